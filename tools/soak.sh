#!/usr/bin/env bash
# Soak run: builds the soak program (host, Release) and pushes the given number
# of hours of synthetic speech in noise through every configuration, or through
# the ones named. Prints per configuration: frames, wall time, failing statuses,
# the largest output sample, and the noise attenuation and speech level of the
# first and the last hour (they must agree within 0.5 dB; exit status 1 if not).
#
# Usage: tools/soak.sh [hours, default 1] [configuration ...]
#   tools/soak.sh 8                    # eight hours of audio per configuration
#   tools/soak.sh 2 env-16k-stereo     # configurations: run with a bad name to list them
set -euo pipefail
cd "$(dirname "$0")/.."

hours=${1:-1}
[ $# -gt 0 ] && shift
build=${VOCREL_SOAK_BUILD:-build/soak}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOCREL_TESTS=OFF -DVOCREL_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target soak >/dev/null

args=(--hours "$hours")
for c in "$@"; do args+=(--config "$c"); done
exec "$build/bench/soak" "${args[@]}"
