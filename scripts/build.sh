#!/usr/bin/env bash
# Configures (once) and builds one build folder: build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
if [ ! -f "$dir/CMakeCache.txt" ]; then
  mkdir -p "$dir"
  cmake -S . -B "$dir" "$@" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
fi
cmake --build "$dir" -j"$(nproc)"
