#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs, if any is missing.
# As root it runs apt-get itself; otherwise it prints the one line to run and fails.
set -euo pipefail

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev pkg-config
  qtbase5-dev qtbase5-dev-tools
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev ffmpeg
  googletest libgtest-dev
  fonts-font-awesome fonts-wqy-microhei
  valgrind
  xvfb xauth time mediainfo jq
  fiu-utils libfiu-dev
  mkvtoolnix gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-plugins-base-apps
  qttranslations5-l10n
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing Debian packages. Run:"
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi
