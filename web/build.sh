#!/usr/bin/env bash
# Builds the browser page into build/web/site (or SITE_DIR): the
# engine and the frame cleaner compiled to WebAssembly with Debian's
# Emscripten (installed here when missing; build in build/web/wasm or
# WASM_BUILD_DIR), beside the page's own files.
# Usage: web/build.sh [SITE_DIR [WASM_BUILD_DIR]]
# Serve that folder (workers do not start from file://), for example:
#   python3 -m http.server -b 127.0.0.1 -d build/web/site 8000
set -euo pipefail
cd "$(dirname "$0")/.."
site=${1:-build/web/site}
wasm=${2:-build/web/wasm}

if ! command -v emcmake >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "web/build.sh: Emscripten is missing: apt-get install emscripten (as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends emscripten >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends emscripten >/dev/null; }
fi

# Debian's Emscripten runs its JS optimiser with the system Node, whose
# modules live outside Node's default path.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
# Configured once; the build step reconfigures by itself when a CMakeLists
# changes. pkg-config is left out: the host's libraries are no use to
# WebAssembly, and the page needs only the engine and the frame cleaner.
if [ ! -f "$wasm/CMakeCache.txt" ]; then
  emcmake cmake -S . -B "$wasm" -Wno-dev -DCMAKE_BUILD_TYPE=Release -DVOCREL_TOOLS=OFF \
    -DVOCREL_SIMD=OFF -DVOCREL_TESTS=OFF -DVOCREL_BENCH=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON >/dev/null
fi
cmake --build "$wasm" -j"$jobs" --target vocrel_web

mkdir -p "$site"
cp web/index.html web/page.js web/worker.js web/vocrel.js web/wav.js web/style.css "$wasm"/web/vocrel_web.js "$site"/
echo "web/build.sh: page in $site"
