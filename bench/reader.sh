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

if [ ! -f "$rec" ]; then
  # Probe the bytes a second takes, then write enough seconds (repeating 25 encoded pictures per
  # channel) to reach the wanted size.
  build/bin/vyrk-sample -o "$work/probe.Vyrk" --width 1280 --height 720 --noise 30 --unique 25 \
    --seconds 1 --quiet
  per_second=$(stat -c %s "$work/probe.Vyrk")
  seconds=$(( size_mib * 1024 * 1024 / per_second + 1 ))
  echo "writing $rec ($seconds s of 7 channels)"
  build/bin/vyrk-sample -o "$rec" --width 1280 --height 720 --noise 30 --unique 25 \
    --seconds "$seconds" --quiet
  rm -f "$work/probe.Vyrk"
fi
bytes=$(stat -c %s "$rec")

now() { date +%s.%N; }
cat "$rec" > /dev/null # both runs read from a warm page cache

t0=$(now); cat "$rec" > /dev/null; t1=$(now)
build/bin/vyrk-info "$rec" > /dev/null; t2=$(now)
t3=$(now); cat "$rec" > /dev/null; t4=$(now)

awk -v b="$bytes" -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v t4="$t4" 'BEGIN {
  c1 = t1 - t0; l = t2 - t1; c2 = t4 - t3;
  c = (c1 < c2) ? c1 : c2;
  mib = b / 1048576;
  printf "file            %.0f MiB\n", mib;
  printf "cat             %.3f s  %.0f MiB/s\n", c, mib / c;
  printf "loader          %.3f s  %.0f MiB/s\n", l, mib / l;
  printf "loader/cat      %.2fx throughput (target >= 0.80)\n", c / l;
}'
