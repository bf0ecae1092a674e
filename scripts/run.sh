#!/usr/bin/env bash
# Installs what is missing, builds, and shows the reader at work: writes a sample recording and
# reads it back, printing its header fields and its record counts per channel and type.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build >/dev/null
out=build/run
mkdir -p "$out"
build/bin/vyrk-sample -o "$out/sample.Vyrk" --quiet
build/bin/vyrk-info "$out/sample.Vyrk"
