#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs. Does nothing when everything
# is already present; needs root (or sudo) otherwise.
# Usage: tools/install-deps.sh [demo|report|all]
#   demo    building vocrel-clean and cleaning a file (tools/demo.sh)
#   report  demo, plus what the Python module and its report read with
#   all     everything the tests and benchmarks need (default; tools/test.sh)
set -euo pipefail

set_name=${1:-all}

# The tool's build: C and C++ compilers, CMake, pkg-config, and the two
# libraries vocrel-clean reads, writes and converts rates with.
demo=(cmake make g++ pkg-config libsndfile1-dev libsoxr-dev)

# The Python module through ctypes, and its report.
report=(python3 python3-numpy python3-soundfile python3-matplotlib python3-scipy)

# The rest of the test suite and the benchmarks: Google Test and Benchmark,
# the peers compared against, the armhf cross compiler and qemu, the sample
# and quality-set speech, clang for the fuzzers and sanitizers, the plugin's
# header and the hosts its tests drive, and the man page's renderer.
full=(
  googletest libbenchmark-dev libspeexdsp-dev libwebrtc-audio-processing-dev
  crossbuild-essential-armhf qemu-user
  espeak-ng sox alsa-utils
  python3-pytest python3-setuptools python3-pip
  clang libclang-rt-14-dev ladspa-sdk
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad pipewire
  man-db groff-base
)

# Wanted but not needed: the browser tests (the report, the web page), the Dask
# example's test and the package's fresh-environment install test skip without them.
optional=()

case $set_name in
  demo) packages=("${demo[@]}") ;;
  report) packages=("${demo[@]}" "${report[@]}") ;;
  all)
    packages=("${demo[@]}" "${report[@]}" "${full[@]}")
    # Node and npm run the quality bench's RNNoise peer (bench/quality/run.sh).
    # A Node that is already there, with the npm it brings, is kept: Debian's npm
    # would not install beside another vendor's nodejs.
    command -v node >/dev/null || packages+=(nodejs)
    command -v npm >/dev/null || packages+=(npm)
    optional=(chromium emscripten python3-dask python3-distributed python3-venv) ;;
  *) echo "usage: tools/install-deps.sh [demo|report|all]" >&2; exit 2 ;;
esac

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_optional < <(missing_of "${optional[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
apt_install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null
}
"${sudo_cmd[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  apt_install "${missing[@]}"
fi
if [ ${#missing_optional[@]} -gt 0 ]; then
  echo "installing: ${missing_optional[*]}" >&2
  apt_install "${missing_optional[@]}" ||
    echo "warning: could not install ${missing_optional[*]}; the tests that need it skip" >&2
fi
