#!/usr/bin/env bash
# make-recording.sh FILE SIZE_MIB: writes a 7-channel 1280x720 recording of about SIZE_MIB MiB
# (25 encoded pictures per channel, repeated), unless FILE exists already.
set -euo pipefail
rec=$1
size_mib=$2
[ -f "$rec" ] && exit 0
dir=$(dirname "$rec")
build/bin/vyrk-sample -o "$dir/probe.Vyrk" --width 1280 --height 720 --noise 30 --unique 25 \
  --seconds 1 --quiet
per_second=$(stat -c %s "$dir/probe.Vyrk")
rm -f "$dir/probe.Vyrk"
seconds=$(( size_mib * 1024 * 1024 / per_second + 1 ))
echo "writing $rec ($seconds s of 7 channels at 1280x720)"
build/bin/vyrk-sample -o "$rec" --width 1280 --height 720 --noise 30 --unique 25 \
  --seconds "$seconds" --quiet
