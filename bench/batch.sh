#!/usr/bin/env bash
# Throughput of vocrel-clean's batch form: a corpus of 1,000 files of 10 s of
# 16 kHz mono speech-like audio (one file made with sox, copied into ten
# folders), cleaned with one job and with two. Prints files a second, hours of
# audio a second, hours of audio a second per job, and the speed-up of two
# jobs over one (two jobs on two free cores should be at least 1.8x).
# Usage: bench/batch.sh [FILES] [TOOL]  (default 1000, build/host's vocrel-clean)
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-1000}
tool=${2:-$PWD/build/host/tools/vocrel-clean}
if [ ! -x "$tool" ]; then
  cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release -DVOCREL_BENCH=OFF >/dev/null
  cmake --build build/host -j2 --target vocrel-clean >/dev/null
fi
command -v sox >/dev/null || { echo "bench/batch.sh needs sox (tools/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/vocrel-batch-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Voiced bursts (a 150 Hz tone with its harmonics, gated at 2.5 Hz) over pink noise.
sox -n -r 16000 -c 1 -b 16 "$work/voice.wav" synth 10 sawtooth 150 vol 0.2 tremolo 2.5 100 \
  lowpass 3000
sox -n -r 16000 -c 1 -b 16 "$work/noise.wav" synth 10 pinknoise vol 0.02
sox -m "$work/voice.wav" "$work/noise.wav" "$work/one.wav"
for ((i = 0; i < files; i++)); do
  d="$work/corpus/spk$((i % 10))"
  mkdir -p "$d"
  cp "$work/one.wav" "$d/utt$i.wav"
done
hours=$(awk -v n="$files" 'BEGIN { printf "%.4f", n * 10 / 3600 }')
echo "corpus: $files files of 10 s at 16 kHz mono, $hours h of audio; $(nproc) cores," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) (other work shares the cores)"

declare -A rate
for jobs in 1 2; do
  rm -rf "$work/out"
  TIMEFORMAT='%R %U %S'
  { time "$tool" -q -j "$jobs" "$work/corpus" -o "$work/out"; } 2>"$work/time"
  read -r wall user sys <"$work/time"
  t0=0 t1=$wall
  n=$(find "$work/out" -type f | wc -l)
  [ "$n" -eq "$files" ] || { echo "-j $jobs wrote $n files of $files" >&2; exit 1; }
  rate[$jobs]=$(awk -v h="$hours" -v a="$t0" -v b="$t1" 'BEGIN { print h / (b - a) }')
  awk -v j="$jobs" -v n="$files" -v h="$hours" -v a="$t0" -v b="$t1" 'BEGIN {
    s = b - a
    printf "-j %d: %.2f s, %.1f files/s, %.4f h of audio/s, %.4f h of audio/s per job",
           j, s, n / s, h / s, h / s / j }'
  # The processor time it was given: on a loaded machine the wall clock
  # counts the waits for a core too.
  awk -v h="$hours" -v u="$user" -v s="$sys" 'BEGIN {
    printf " (processor time %.2f s: %.4f h of audio per processor second)\n", u + s, h / (u + s) }'
done
awk -v a="${rate[1]}" -v b="${rate[2]}" 'BEGIN { printf "-j 2 / -j 1: %.2fx (target 1.8x on 2 free cores)\n", b / a }'
