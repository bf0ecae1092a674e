#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the whole suite; the exit status is the
# suite's. With --all it also runs the suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan/) and the threaded suites under ThreadSanitizer (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."

all=0
[ "${1:-}" = "--all" ] && all=1

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
root=$(pwd)

status=0
scripts/build.sh build >/dev/null
(cd build && ctest --output-on-failure -j"$jobs") || status=1

if [ $all -eq 1 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  CC=clang CXX=clang++ scripts/build.sh build-asan -DVYRK_SANITIZE=address,undefined >/dev/null
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
     LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     ctest --output-on-failure -j"$jobs") || status=1

  echo "== ThreadSanitizer"
  CC=clang CXX=clang++ scripts/build.sh build-tsan -DVYRK_SANITIZE=thread -DVYRK_BUILD_APP=OFF >/dev/null
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j"$jobs" -L threads) || status=1
fi

exit $status
