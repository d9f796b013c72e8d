#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the program and the
# test suite need and the machine lacks. Quiet when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libfltk1.3-dev fltk1.3-doc libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xdotool xclip x11-utils x11-apps imagemagick
  pulseaudio pulseaudio-utils
  sox sndfile-programs
  jackd2 libjack-jackd2-dev libsndfile1-dev libsamplerate0-dev
  liblo-dev liblo-tools
  ableton-link-dev libasio-dev iproute2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
