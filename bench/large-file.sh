#!/usr/bin/env bash
# A channel file past 4 GiB: converts a one-channel 1920x1080 recording at a high bit rate, long
# enough for its MP4 to exceed 4 GiB, once as written and once with --faststart, and checks each
# file with independent readers: 64-bit chunk offsets (co64), the duration ffprobe, mediainfo and
# GStreamer report against the recording's, and a seek to the last minute that decodes cleanly.
# Prints one line per check and exits 1 if any fails. Needs about 14 GB of free disk.
# Usage: bench/large-file.sh [GiB, default 4.3]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null

target_gib=${1:-4.3}
work=$(realpath -m "${BENCH_DIR:-build/bench}/large")
mkdir -p "$work"
fps=25
rec="$work/large.Vyrk"
sample=(--channels 1 --width 1920 --height 1080 --fps "$fps" --unique 50 --gop 25
        --bitrate 60000 --noise 60 --quiet)

if [ ! -f "$work/large.done" ]; then
  build/bin/vyrk-sample -o "$work/probe.Vyrk" "${sample[@]}" --seconds 4
  per_second=$(( $(stat -c %s "$work/probe.Vyrk") / 4 ))
  rm -f "$work/probe.Vyrk"
  seconds=$(awk -v g="$target_gib" -v b="$per_second" 'BEGIN { printf "%d", g * 2^30 / b + 1 }')
  seconds=$(( (seconds + 59) / 60 * 60 ))
  echo "writing $rec ($seconds s of one channel at 1920x1080, about $per_second bytes/s)"
  build/bin/vyrk-sample -o "$rec" "${sample[@]}" --seconds "$seconds"
  echo "$seconds" > "$work/large.done"
fi
seconds=$(cat "$work/large.done")

failed=0
check() { # check WHAT OK DETAIL
  printf '  %-48s %-4s %s\n' "$1" "$([ "$2" = 1 ] && echo ok || echo FAIL)" "$3"
  [ "$2" = 1 ] || failed=1
}

for mode in plain faststart; do
  out="$work/out-$mode"
  rm -rf "$out"
  flags=()
  [ "$mode" = faststart ] && flags=(--faststart)
  /usr/bin/time -f "%e %M" -o "$work/time" build/bin/vyrk2mp4 -q "${flags[@]}" -o "$out" "$rec" > "$work/$mode.log"
  read -r wall peak < "$work/time"
  mp4="$out/large/0.mp4"
  bytes=$(stat -c %s "$mp4")
  echo "$mode: $mp4, $bytes bytes, converted in $wall s, peak RSS $((peak / 1024)) MB"
  check "larger than 4 GiB" "$((bytes > 4294967296))" "$(awk -v b="$bytes" 'BEGIN{printf "%.2f GiB", b/2^30}')"
  co64=$(ffprobe -v trace "$mp4" 2>&1 | grep -c "type:'co64'" || true)
  check "64-bit chunk offsets in both tracks" "$((co64 >= 2))" "$co64 co64 boxes"
  frame=$(awk -v f="$fps" 'BEGIN { print 1 / f }')
  near() { awk -v a="$1" -v b="$2" -v t="$frame" 'BEGIN { d = a - b; print (d < 0 ? -d : d) <= t ? 1 : 0 }'; }
  video=$(ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 "$mp4")
  check "ffprobe: video lasts the recording (+-1 frame)" "$(near "$video" "$seconds")" "$video s of $seconds"
  format=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp4")
  check "ffprobe: file lasts the recording (+-1 frame)" "$(near "$format" "$seconds")" "$format s"
  info=$(mediainfo --Inform='General;%Duration%' "$mp4")
  check "mediainfo: duration (+-1 frame)" "$(near "$(awk -v m="$info" 'BEGIN{print m/1000}')" "$seconds")" "$info ms"
  gst=$(gst-discoverer-1.0 "$mp4" 2>&1 | sed -n "s/^ *Duration: //p" | head -n 1)
  gst_s=$(awk -F: -v d="$gst" 'BEGIN { split(d, p, ":"); print p[1] * 3600 + p[2] * 60 + p[3] }')
  check "GStreamer: duration (+-1 frame)" "$(near "$gst_s" "$seconds")" "$gst"
  errors=$(ffmpeg -nostdin -v error -ss $((seconds - 60)) -i "$mp4" -map 0 -f null - 2>&1 | head -n 3)
  decoded=$(ffmpeg -nostdin -v error -ss $((seconds - 60)) -i "$mp4" -map 0:v -f null - \
              -progress - 2>/dev/null | sed -n 's/^frame=//p' | tail -n 1)
  check "seek to the last minute decodes cleanly" "$([ -z "$errors" ] && [ "${decoded:-0}" -ge $((59 * fps)) ] && echo 1 || echo 0)" \
    "${decoded:-0} pictures${errors:+, $errors}"
done
exit $failed
