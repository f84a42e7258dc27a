#!/usr/bin/env bash
# Quality beside the peer suppressors: installs what it needs, builds the
# library, builds the test set, runs everything and writes out/quality/.
# usage: bench/quality/run.sh [--quick] [--out DIR] [--jobs N]
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/install-deps.sh
# RNNoise's WebAssembly build, at the version package-lock.json pins; without
# it the bench runs and reports RNNoise as not available.
if [ ! -f bench/quality/node_modules/@shiguredo/rnnoise-wasm/package.json ]; then
  npm ci --prefix bench/quality --no-audit --no-fund >/dev/null ||
    echo "warning: npm ci failed in bench/quality; RNNoise is left out" >&2
fi
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/host -j"$(nproc)" --target vocrel_rnr >/dev/null
exec /usr/bin/python3 bench/quality/quality.py --lib build/host/libvocrel_rnr.so "$@"
