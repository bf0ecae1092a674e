#!/usr/bin/env bash
# vyrk2mp4 against the ffmpeg command line doing the same job, the AAC encoding alone (the floor
# no converter can go under: the video is only copied) and cp, on the same 7-channel 1280x720
# recording. Each run measures all four in turn (the order rotates), and the figures are the
# medians over the runs; ratios are taken within each run, then their median is printed.
# vyrk2mp4's time includes syncing its files to disk; ffmpeg and cp leave theirs to the system.
#   default  60 s at 7 Mbit/s per channel (about 470 MB)
#   --long   30 min at 2 Mbit/s per channel (about 4.3 GB) and 60 s with the same settings, and
#            the cost per channel-minute of both: it stays flat when cost is linear in length;
#            then a rig's day: 8 channels x 2 h at 320x240, 300 kbit/s (about 7 GB).
#   --rig H  the rig's recording alone, H hours long (8 channels, 320x240, 300 kbit/s).
# Every recording's peak RSS is also given per channel-hour, and with --long the growth of the
# peak per channel-hour from the 30 min to the 2 h recording (the index the files keep).
# VYRK2MP4_QUEUE_MIB, when set, is handed to vyrk2mp4 (its queue budget).
# Usage: bench/compare.sh [--long | --rig H] [--runs N]   (N defaults to 5)
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
rig_hours=
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --long) long=1 ;;
    --rig) rig_hours=${2:-}; shift ;;
    --runs) runs=${2:-}; shift ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "compare.sh: --runs needs a positive number" >&2; exit 2; }
[[ -z "$rig_hours" || "$rig_hours" =~ ^[1-9][0-9]*$ ]] ||
  { echo "compare.sh: --rig needs a whole number of hours" >&2; exit 2; }

scripts/deps.sh
scripts/build.sh build >/dev/null
work=$(realpath -m "${BENCH_DIR:-build/bench}/compare")
mkdir -p "$work"
cores=$(nproc)
channels=7
fps=30

# make_recording NAME SECONDS KBPS [WIDTH HEIGHT]: NAME.Vyrk of $channels channels with each
# channel's video and audio beside it (NAME.chN.hevc, NAME.chN.pcm) for the ffmpeg side; kept
# for later runs.
make_recording() {
  local name=$1 seconds=$2 kbps=$3 width=${4:-1280} height=${5:-720}
  [ -f "$work/$name.done" ] && return 0
  echo "writing $work/$name.Vyrk ($seconds s of $channels channels, ${width}x$height, $kbps kbit/s)" >&2
  build/bin/vyrk-sample -o "$work/$name.Vyrk" --channels "$channels" --width "$width" \
    --height "$height" --fps "$fps" --seconds "$seconds" --unique 60 --gop 30 --bitrate "$kbps" \
    --noise 20 --dump-streams --quiet
  touch "$work/$name.done"
}

# measure FILE SIDE RECORDING: appends "wall cpu peak-KiB" of run_SIDE to FILE; the peak is that
# of the largest process.
measure() {
  local file=$1 side=$2 rec=$3
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.out" bash -c 'run_$0 "$1"' "$side" "$rec" > /dev/null
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time.out" >> "$file"
  sync # what one command left to write is not written during the next
}

channel_list() { seq 0 $((channels - 1)); }

run_vyrk() { build/bin/vyrk2mp4 -q -o "$work/out-vyrk" "$1"; }

run_pipeline() { # two (as many as cores) ffmpeg at a time, one per channel
  local base=${1%.Vyrk}
  channel_list | xargs -P "$cores" -I{} ffmpeg -nostdin -y -v error -framerate "$fps" \
    -i "$base.ch{}.hevc" -f s16le -ar 44100 -ac 1 -i "$base.ch{}.pcm" -map 0:v -map 1:a \
    -c:v copy -c:a aac -b:a 32k "$work/out-ffmpeg/{}.mp4"
}

run_floor() {
  local base=${1%.Vyrk}
  channel_list | xargs -P "$cores" -I{} ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 1 \
    -i "$base.ch{}.pcm" -c:a aac -b:a 32k -f null -
}

run_cp() { cp "$1" "$work/copy.Vyrk"; rm -f "$work/copy.Vyrk"; }

export work cores channels fps
export -f channel_list run_vyrk run_pipeline run_floor run_cp

# compare NAME SECONDS: prints the medians and ratios for NAME.Vyrk ($channels channels) and
# leaves its seconds per channel-minute in $work/NAME.per-minute, its channel-hours and peak RSS
# (MB) in $work/NAME.rss.
compare() {
  local name=$1 rec="$work/$1.Vyrk" seconds=$2
  local sides=(vyrk pipeline floor cp) run k side
  for side in "${sides[@]}"; do : > "$work/$name.$side"; done
  cat "$rec" "$work/$name".ch*.* > /dev/null # from the page cache, as every run after the first
  for ((run = 0; run < runs; run++)); do
    for ((k = 0; k < ${#sides[@]}; k++)); do
      side=${sides[$(((run + k) % ${#sides[@]}))]}
      rm -rf "$work/out-vyrk" "$work/out-ffmpeg"; mkdir -p "$work/out-ffmpeg" # not timed
      measure "$work/$name.$side" "$side" "$rec"
    done
    printf '.' >&2
  done
  echo >&2
  paste -d' ' "$work/$name.vyrk" "$work/$name.pipeline" "$work/$name.floor" "$work/$name.cp" |
    awk -v cores="$cores" -v ch="$channels" -v secs="$seconds" -v bytes="$(stat -L -c %s "$rec")" \
      -v name="$name" -v out="$work/$name.per-minute" -v rss="$work/$name.rss" '
    function at_least(x) { return x > 0.01 ? x : 0.01 }
    function median(a, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    {
      vw[NR] = $1; vc[NR] = $2; vm[NR] = $3; pw[NR] = $4; pc[NR] = $5; pm[NR] = $6
      fw[NR] = $7; fc[NR] = $8; fm[NR] = $9; cw[NR] = $10
      r1[NR] = $1 / at_least($4); r2[NR] = $1 / at_least($8 / cores); r3[NR] = $2 / at_least($8)
      r4[NR] = $1 / at_least($10); r5[NR] = $2 / at_least($5)
    }
    END {
      n = NR
      v_w = median(vw, n); v_c = median(vc, n); v_m = median(vm, n) / 1024
      p_w = median(pw, n); p_c = median(pc, n); p_m = median(pm, n) / 1024
      f_w = median(fw, n); f_c = median(fc, n); f_m = median(fm, n) / 1024; c_w = median(cw, n)
      printf "\n%s: %.0f MB, %d channels x %d s, %d runs, %d cores\n", name, bytes / 1e6, ch, secs, n, cores
      printf "  %-34s %8s %8s %12s\n", "", "wall s", "CPU s", "peak RSS MB"
      printf "  %-34s %8.2f %8.2f %12.0f\n", "vyrk2mp4", v_w, v_c, v_m * 1.048576
      printf "  %-34s %8.2f %8.2f %12.0f  (one ffmpeg; %d run at once)\n", "ffmpeg pipeline (split not counted)", p_w, p_c, p_m * 1.048576, cores
      printf "  %-34s %8.2f %8.2f %12.0f  (one ffmpeg)\n", "AAC encoding alone: the floor", f_w, f_c, f_m * 1.048576
      printf "  %-34s %8.2f\n", "the floor'\''s CPU s per core", f_c / cores
      printf "  %-34s %8.2f\n", "cp of the recording", c_w
      printf "  ratios (median of the runs'\'' ratios)\n"
      printf "  %-44s %6.2fx  (target <= 1.10)\n", "vyrk2mp4 wall / floor CPU per core", median(r2, n)
      printf "  %-44s %6.2fx  (target <= 1.05)\n", "vyrk2mp4 CPU / floor CPU", median(r3, n)
      printf "  %-44s %6.2fx\n", "vyrk2mp4 wall / ffmpeg pipeline wall", median(r1, n)
      printf "  %-44s %6.2fx\n", "vyrk2mp4 CPU / ffmpeg pipeline CPU", median(r5, n)
      printf "  %-44s %6.2fx\n", "vyrk2mp4 wall / cp wall", median(r4, n)
      chh = ch * secs / 3600
      printf "  %-44s %6.1f MB over %.2f channel-hours\n", "vyrk2mp4 peak RSS per channel-hour", v_m * 1.048576 / chh, chh
      printf "  %-44s %6s   (target <= %d MB)\n", "vyrk2mp4 peak RSS within target", v_m * 1.048576 <= (secs > 1800 ? 400 : 250) ? "yes" : "NO", secs > 1800 ? 400 : 250
      printf "%.4f %.4f\n", v_w / (ch * secs / 60), (p_w) / (ch * secs / 60) > out
      printf "%.4f %.1f\n", chh, v_m * 1.048576 > rss
    }'
}

# rig HOURS: the rig's recording of that length (8 channels at 320x240).
rig() {
  channels=8
  make_recording "rig-$1h" $(($1 * 3600)) 300 320 240
  compare "rig-$1h" $(($1 * 3600))
}

if [ -n "$rig_hours" ]; then
  rig "$rig_hours"
  exit 0
fi

if [ "$long" -eq 0 ]; then
  make_recording short 60 7000
  compare short 60
  exit 0
fi

make_recording minute 60 2000
make_recording long 1800 2000
compare minute 60
compare long 1800
read -r minute_v minute_p < "$work/minute.per-minute"
read -r long_v long_p < "$work/long.per-minute"
awk -v mv="$minute_v" -v mp="$minute_p" -v lv="$long_v" -v lp="$long_p" 'BEGIN {
  printf "\nwall seconds per channel-minute    60 s      30 min    30 min / 60 s\n"
  printf "  %-30s %8.4f  %8.4f  %8.3f  (target within 5%%)\n", "vyrk2mp4", mv, lv, lv / mv
  printf "  %-30s %8.4f  %8.4f  %8.3f\n", "ffmpeg pipeline", mp, lp, lp / mp
}'
rig 2
read -r long_chh long_rss < "$work/long.rss"
read -r rig_chh rig_rss < "$work/rig-2h.rss"
awk -v a="$long_chh" -v ra="$long_rss" -v b="$rig_chh" -v rb="$rig_rss" 'BEGIN {
  printf "\npeak RSS growth from 30 min (%.1f ch-h, %.0f MB) to 2 h (%.1f ch-h, %.0f MB): %.1f MB per channel-hour\n", a, ra, b, rb, (rb - ra) / (b - a)
}'
