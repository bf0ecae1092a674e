#!/usr/bin/env bash
# One full 7-channel conversion under valgrind memcheck: no invalid access and no leak.
set -euo pipefail
bin=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin/vyrk-sample" -o "$dir/r.Vyrk" --channels 7 --seconds 1 --width 160 --height 96 --quiet
if ! valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect \
     --errors-for-leak-kinds=definite,indirect -q \
     "$bin/vyrk2mp4" -o "$dir/out" "$dir/r.Vyrk" > "$dir/log" 2>&1; then
  cat "$dir/log"
  exit 1
fi
grep -c "written" "$dir/log" | grep -qx 7 || { cat "$dir/log"; echo "not every channel was written"; exit 1; }
echo "memcheck: 7 channels converted, no errors, no leaks"
