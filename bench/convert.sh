#!/usr/bin/env bash
# Conversion speed and memory: vyrk2mp4 over a generated 7-channel recording (about 1 GiB by
# default), against cat of the same file in the same run; prints wall time, throughput and peak
# memory against the 400 MB target.
# Usage: bench/convert.sh [size in MiB, default 1024]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null

size_mib=${1:-1024}
work=${BENCH_DIR:-build/bench}
mkdir -p "$work"
rec="$work/convert-${size_mib}MiB.Vyrk"
bench/make-recording.sh "$rec" "$size_mib"
bytes=$(stat -c %s "$rec")
out="$work/convert-out"
rm -rf "$out"

cat "$rec" > /dev/null
t0=$(date +%s.%N); cat "$rec" > /dev/null; t1=$(date +%s.%N)
/usr/bin/time -f "%e %M" -o "$work/convert.time" build/bin/vyrk2mp4 -o "$out" "$rec" > "$work/convert.log" 2>&1
read -r seconds peak_kib < "$work/convert.time"
written=$(du -sb "$out" | cut -f1)

awk -v b="$bytes" -v w="$written" -v c="$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')" \
    -v s="$seconds" -v m="$peak_kib" 'BEGIN {
  mib = b / 1048576;
  printf "recording       %.0f MiB, 7 channels\n", mib;
  printf "written         %.0f MiB of MP4\n", w / 1048576;
  printf "cat             %.2f s\n", c;
  printf "vyrk2mp4        %.2f s  %.0f MiB/s  (%.1fx the time cat takes)\n", s, mib / s, s / c;
  printf "peak memory     %.0f MiB\n", m / 1024;
  printf "target          %.0f MiB  (400 MB: 256 MiB queued by all channels together, a few MiB of the read window, the files'\'' indexes, the libraries)\n", 400e6 / 1048576;
  printf "within target   %s\n", (m * 1024 <= 400e6) ? "yes" : "NO";
}'
