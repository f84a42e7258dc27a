#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and demo the library.
# Does nothing when everything is already present; needs root (or sudo) otherwise.
set -euo pipefail

packages=(
  cmake make g++ pkg-config googletest libbenchmark-dev libspeexdsp-dev
  crossbuild-essential-armhf qemu-user
  libsndfile1-dev libsoxr-dev espeak-ng sox alsa-utils
  libwebrtc-audio-processing-dev python3-scipy
  python3 python3-numpy python3-matplotlib python3-pytest
  clang libclang-rt-14-dev ladspa-sdk
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad pipewire
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "installing: ${missing[*]}" >&2
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
