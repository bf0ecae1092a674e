#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the whole suite; the exit status is the
# suite's. With --all it also runs the suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan/), the threaded suites under ThreadSanitizer (build-tsan/), and the libFuzzer targets
# (build-fuzz/): the committed corpus is replayed, then each target fuzzes for 60 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

all=0
[ "${1:-}" = "--all" ] && all=1

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
root=$(pwd)

# ctest prints nothing of a test it reports as skipped, nor of cases a suite skipped inside a
# passing test: list them with their reasons after each run.
report_skips() {
  grep -h -E '^SKIPPED: |^SKIP +: |^\[  SKIPPED \] [^ ]+ \(' "$1/Testing/Temporary/LastTest.log" \
    2>/dev/null | sed 's/^/  /' || true
}

status=0
scripts/build.sh build >/dev/null
(cd build && ctest --output-on-failure -j"$jobs") || status=1
report_skips build

if [ $all -eq 1 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  CC=clang CXX=clang++ scripts/build.sh build-asan -DVYRK_SANITIZE=address,undefined >/dev/null
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
     LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     ctest --output-on-failure -j"$jobs") || status=1
  report_skips build-asan

  echo "== ThreadSanitizer"
  CC=clang CXX=clang++ scripts/build.sh build-tsan -DVYRK_SANITIZE=thread -DVYRK_BUILD_APP=OFF >/dev/null
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j"$jobs" -L threads) || status=1
  report_skips build-tsan

  echo "== Fuzzing"
  CC=clang CXX=clang++ scripts/build.sh build-fuzz -DVYRK_SANITIZE=address,undefined -DVYRK_FUZZ=ON >/dev/null
  (cd build-fuzz && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure) || status=1
  mkdir -p build-fuzz/artifacts
  for pair in recording:recording frame_path:frames; do
    target=${pair%%:*}
    corpus=$(mktemp -d)
    cp "tests/fuzz/corpus/${pair##*:}"/* "$corpus"/
    echo "fuzz_$target: ${FUZZ_SECONDS:-60} s"
    if ! ASAN_OPTIONS=detect_leaks=1 build-fuzz/bin/fuzz_$target -max_total_time="${FUZZ_SECONDS:-60}" \
         -timeout=120 -rss_limit_mb=4096 -print_final_stats=1 \
         -artifact_prefix="build-fuzz/artifacts/$target-" "$corpus" > "build-fuzz/fuzz_$target.log" 2>&1; then
      tail -n 60 "build-fuzz/fuzz_$target.log"
      status=1
    fi
    grep -E "stat::number_of_executed_units|stat::new_units_added" "build-fuzz/fuzz_$target.log" || true
    rm -rf "$corpus"
  done
fi

exit $status
