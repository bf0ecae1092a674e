#!/usr/bin/env bash
# Installs what is missing, builds, and does the main job: with a display it starts the
# converter window; without one it writes a sample recording, converts it with vyrk2mp4 into
# build/run/sample/0.mp4 ... 6.mp4 and shows what ffprobe reads back.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The window reads ./skin from its working directory: the repository root.
  exec build/bin/vyrk-converter
fi

out=build/run
mkdir -p "$out"
build/bin/vyrk-sample -o "$out/sample.Vyrk" --quiet
build/bin/vyrk-info "$out/sample.Vyrk"
rm -rf "$out/sample"
build/bin/vyrk2mp4 --log "$out/vyrk2mp4.log" "$out/sample.Vyrk"
echo
for f in "$out"/sample/*.mp4; do
  printf '%s: ' "$f"
  ffprobe -v error -show_entries stream=codec_tag_string,width,height,sample_rate,nb_frames:stream_tags=timecode \
    -show_entries format=duration -of compact=p=0:nk=1 "$f" | tr '\n' ' '
  echo
done
