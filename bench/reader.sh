#!/usr/bin/env bash
# Reader throughput: the recording loader over a generated 1 GiB recording, with a consumer that
# drops every record, against `cat file > /dev/null` on the same file, in one run.
# Usage: bench/reader.sh [size in MiB, default 1024]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null

size_mib=${1:-1024}
work=${BENCH_DIR:-build/bench}
mkdir -p "$work"
rec="$work/reader-${size_mib}MiB.Vyrk"

bench/make-recording.sh "$rec" "$size_mib"
bytes=$(stat -c %s "$rec")

now() { date +%s.%N; }
can_drop=0
if [ "$(id -u)" -eq 0 ] && sync && echo 3 > /proc/sys/vm/drop_caches 2>/dev/null; then can_drop=1; fi
cold() { [ $can_drop -eq 1 ] && sync && echo 3 > /proc/sys/vm/drop_caches; }

# Each command, from a cold cache (as operators read from disks and cards) when the machine
# lets us drop it, then from a warm one (the CPU cost alone).
measure() { local t0 t1; t0=$(now); "$@" > /dev/null; t1=$(now); awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b - a}'; }
cat_file() { cat "$rec"; }
loader() { build/bin/vyrk-info "$rec"; }

report() { # label cat-seconds loader-seconds
  awk -v b="$bytes" -v label="$1" -v c="$2" -v l="$3" 'BEGIN {
    mib = b / 1048576;
    printf "%-6s cat    %.3f s  %6.0f MiB/s\n", label, c, mib / c;
    printf "%-6s loader %.3f s  %6.0f MiB/s\n", label, l, mib / l;
    printf "%-6s loader/cat %.2fx throughput\n", label, c / l;
  }'
}

printf "file %s, %d MiB\n" "$rec" $((bytes / 1048576))
min() { awk -v a="$1" -v b="$2" 'BEGIN{print (a<b)?a:b}'; }
# Disks vary from run to run: each side's best of three, taken in turns.
if [ $can_drop -eq 1 ]; then
  c=999; l=999
  for _ in 1 2 3; do
    cold; c=$(min "$c" "$(measure cat_file)")
    cold; l=$(min "$l" "$(measure loader)")
  done
  report cold "$c" "$l"
else
  echo "cold   (skipped: dropping the page cache needs root)"
fi
cat "$rec" > /dev/null
c=999; l=999
for _ in 1 2 3; do
  c=$(min "$c" "$(measure cat_file)")
  l=$(min "$l" "$(measure loader)")
done
report warm "$c" "$l"
echo "target: loader/cat >= 0.80"
