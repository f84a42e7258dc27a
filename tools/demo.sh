#!/usr/bin/env bash
# Builds vocrel-clean and cleans the bundled sample with the default settings
# (floor-noise reduction). Installs the missing build dependencies first: only
# what the tool's build needs (tools/install-deps.sh demo).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh demo

build=build/demo
echo "building vocrel-clean in $build ..."
mkdir -p "$build"
# libvocrel_stream.so too: the Python report below runs the tool's stream layer.
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOCREL_TESTS=OFF -DVOCREL_BENCH=OFF &&
       cmake --build "$build" -j"$(nproc)" --target vocrel-clean vocrel_stream; } >"$build/demo-build.log" 2>&1; then
  cat "$build/demo-build.log" >&2
  echo "demo: the build failed (log above)" >&2
  exit 1
fi

mkdir -p out
"$build/tools/vocrel-clean" -f samples/noisy_speech.wav out/noisy_speech_clean.wav
echo "noisy input:   $PWD/samples/noisy_speech.wav"
echo "cleaned:       $PWD/out/noisy_speech_clean.wav"
echo "listen with:   aplay out/noisy_speech_clean.wav   (or: play out/noisy_speech_clean.wav)"
# The report needs the interpreter that has numpy, soundfile and matplotlib:
# Debian's, where install-deps.sh puts them, unless another python3 on PATH has them.
py=python3
python3 -c 'import numpy, soundfile, matplotlib' 2>/dev/null ||
  { [ -x /usr/bin/python3 ] && py=/usr/bin/python3; }
report="PYTHONPATH=python $py -m vocrel_rnr.report samples/noisy_speech.wav -o out/report.html"
if "$py" -c 'import numpy, soundfile, matplotlib, scipy' 2>/dev/null; then
  echo "report:        $report"
else
  echo "report:        tools/install-deps.sh report && $report"
fi
