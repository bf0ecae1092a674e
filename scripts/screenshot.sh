#!/usr/bin/env bash
# Starts the converter window under Xvfb, drives it (adds recordings, exports) and saves
# pictures of it into build/screenshots/: empty.png, listed.png, exporting.png, done.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null

out=build/screenshots
mkdir -p "$out"
display=:97
Xvfb "$display" -screen 0 1280x860x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
# The window reads ./skin from its working directory: the repository root.
DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$PWD/build/screenshot-config" \
  build/bin/window-screenshots "$out"
