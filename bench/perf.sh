#!/usr/bin/env bash
# Frame cost of the engine beside the open suppressors, in one run.
#
# Builds the frame driver (bench/perf_frames.cpp) four times: x86-64 and
# armhf, each with the SIMD kernels (VOCREL_SIMD=ON) and with the portable
# twins only (OFF). For every mode, rate and channel count it prints:
#   ns     time per frame on this machine, median of 7 interleaved runs
#   Ir     callgrind's inclusive instruction count per frame of the
#          per-frame entry (Vocrel_RNR_Apply; speex_preprocess_run;
#          AudioProcessingImpl::ProcessStream), x86-64
#   arm    armhf instructions per frame under qemu-arm, counted by a small
#          TCG plugin: (count of 40 frames - count of 20 frames) / 20
# beside SpeexDSP's preprocessor (denoise only) and WebRTC audio processing's
# noise suppressor (Debian packages) on the same input; on armhf beside
# SpeexDSP's preprocessor built here from Debian's source package for the same
# CPU (denoise only: preprocessor, kiss FFT and filterbank at -O2), fixed point
# and float, counted the same way; and the engine's
# 1024-point transform pair beside kissfft's (FIXED_POINT=32, built here from
# Debian's source package).
# Then the real-time factor on this machine (wall seconds per second of
# audio, median of 3 runs) of vocrel-clean and of the LADSPA plugin (run by
# the repository's probe host) on a minute of speech at 44.1 kHz, which
# libsoxr converts to the engine's rate and back, beside the same minute at
# the engine's own rate (48 kHz for mode 0, 16 kHz for mode 1): the
# difference is the conversion's share.
# Usage: bench/perf.sh [--no-arm]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/perf
mkdir -p "$out"
arm=1
[ "${1:-}" = "--no-arm" ] && arm=0

need=(valgrind libspeexdsp-dev libwebrtc-audio-processing-dev qemu-user crossbuild-essential-armhf
      sox libsndfile1-dev libsoxr-dev ladspa-sdk)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  echo "installing: ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# Debian's source package of NAME unpacked under DIR (a private apt list of
# deb-src lines, so the system's apt configuration is left alone).
fetch_source() {  # name dir
  local name=$1 dir=$2
  mkdir -p "$dir/lists/partial"
  printf 'deb-src http://deb.debian.org/debian bookworm main\n' >"$dir/sources.list"
  local apt_opts=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
                  -o Dir::State::Lists="$dir/lists" -o APT::Sandbox::User=root)
  if ! ls "$dir/${name}"_*.orig.tar.gz >/dev/null 2>&1; then
    apt-get -qq "${apt_opts[@]}" update >/dev/null
    (cd "$dir" && apt-get -qq "${apt_opts[@]}" source --download-only "$name" >/dev/null)
  fi
  tar -xzf "$dir/${name}"_*.orig.tar.gz -C "$dir"
}

targets=(perf_frames)
build() {  # name, extra cmake args... (builds the targets listed in $targets)
  local name=$1; shift
  cmake -S . -B "$out/$name" -DCMAKE_BUILD_TYPE=Release -DVOCREL_TESTS=OFF -DVOCREL_TOOLS=OFF \
    "$@" >/dev/null
  cmake --build "$out/$name" -j2 --target "${targets[@]}" >/dev/null
}
echo "building ..." >&2
build simd -DVOCREL_SIMD=ON
build c -DVOCREL_SIMD=OFF
targets=(vocrel-clean vocrel_rnr_ladspa vocrel-ladspa-probe)
build tools -DVOCREL_SIMD=ON -DVOCREL_BENCH=OFF -DVOCREL_TOOLS=ON
targets=(perf_frames)
if [ $arm = 1 ]; then
  speex=$out/speexdsp
  [ -d "$speex/speexdsp-1.2.1" ] || fetch_source speexdsp "$speex"
  targets=(perf_frames perf_frames_speex_fixed perf_frames_speex_float)
  build arm-simd -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DVOCREL_SIMD=ON \
    -DVOCREL_PERF_SPEEX_SRC="$speex/speexdsp-1.2.1"
  targets=(perf_frames)
  build arm-c -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DVOCREL_SIMD=OFF
  cc -O2 -shared -fPIC -Wall -o "$out/insn_count_plugin.so" bench/insn_count_plugin.c
fi

# kissfft from Debian's source package.
kiss=$out/kissfft
if [ ! -x "$kiss/perf_kissfft" ]; then
  fetch_source kissfft "$kiss"
  cc -O3 -DNDEBUG -DFIXED_POINT=32 -I"$kiss/kissfft-131.1.0" -o "$kiss/perf_kissfft" \
    bench/perf_kissfft.c "$kiss/kissfft-131.1.0/kiss_fft.c" -lm
fi

frames=300
entry() {  # subject -> callgrind toggle
  case $1 in
    mode*) echo Vocrel_RNR_Apply ;;
    speex) echo speex_preprocess_run ;;
    webrtc) echo 'webrtc::AudioProcessingImpl::ProcessStream(webrtc::AudioFrame*)' ;;
    fftpair) echo '*fft_pair*' ;;
  esac
}
ir() {  # build subject rate channels -> instructions per frame (x86-64)
  local f=$out/cg.$$
  valgrind --tool=callgrind --callgrind-out-file="$f" --toggle-collect="$(entry "$2")" \
    "$out/$1/bench/perf_frames" "$2" "$3" "$4" $frames >/dev/null 2>&1
  callgrind_annotate "$f" 2>/dev/null | awk -v n=$frames \
    '/PROGRAM TOTALS/ { gsub(",", "", $1); printf "%.0fk", $1 / n / 1000 }'
  rm -f "$f"
}
arm_count() {  # build subject rate channels [driver] -> armhf instructions per frame
  [ $arm = 1 ] || { echo -; return; }
  local a b exe=$out/$1/bench/${5:-perf_frames}
  a=$(qemu-arm -L /usr/arm-linux-gnueabihf -plugin "$out/insn_count_plugin.so" \
      "$exe" "$2" "$3" "$4" 20 2>&1 >/dev/null | awk '/^insns/ { print $2 }')
  b=$(qemu-arm -L /usr/arm-linux-gnueabihf -plugin "$out/insn_count_plugin.so" \
      "$exe" "$2" "$3" "$4" 40 2>&1 >/dev/null | awk '/^insns/ { print $2 }')
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.0fk", (b - a) / 20 / 1000 }'
}
median_ns() {  # subject rate channels builds... -> "ns ns ..." (7 interleaved runs)
  local subject=$1 rate=$2 ch=$3; shift 3
  local b r
  declare -A runs=()
  for r in 1 2 3 4 5 6 7; do
    for b in "$@"; do
      runs[$b]+="$("$out/${b%%:*}/bench/perf_frames" "${b#*:}" "$rate" "$ch" $frames \
        | awk '{ print $2 }') "
    done
  done
  for b in "$@"; do
    printf '%s ' "$(tr ' ' '\n' <<<"${runs[$b]}" | grep . | sort -n | sed -n 4p)"
  done
}

host=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
echo "# $(date -u +%Y-%m-%d), x86-64: $host; armhf: qemu-arm $(qemu-arm -version | head -1 | awk '{ print $3 }')"
echo
echo "| mode | rate | ch | ns SIMD | ns C | Ir SIMD | Ir C | arm NEON | arm C | SpeexDSP ns, Ir | WebRTC NS ns, Ir | SpeexDSP arm fixed | SpeexDSP arm float |"
echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
# The armhf peer counts depend only on rate and channels: counted once.
declare -A speex_fixed=() speex_float=()
for rate in 8000 16000 48000; do
  for ch in 1 2; do
    speex_fixed[$rate.$ch]=$(arm_count arm-simd speex $rate $ch perf_frames_speex_fixed)
    speex_float[$rate.$ch]=$(arm_count arm-simd speex $rate $ch perf_frames_speex_float)
  done
done
for mode in 0 1; do
  for rate in 8000 16000 48000; do
    [ $mode = 1 ] && [ $rate = 48000 ] && continue
    for ch in 1 2; do
      read -r ns_s ns_c ns_sp ns_w <<<"$(median_ns mode$mode $rate $ch \
        simd:mode$mode c:mode$mode simd:speex simd:webrtc)"
      printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s, %s | %s, %s | %s | %s |\n' \
        $mode $((rate / 1000))k $ch "$ns_s" "$ns_c" \
        "$(ir simd mode$mode $rate $ch)" "$(ir c mode$mode $rate $ch)" \
        "$(arm_count arm-simd mode$mode $rate $ch)" "$(arm_count arm-c mode$mode $rate $ch)" \
        "$ns_sp" "$(ir simd speex $rate $ch)" "$ns_w" "$(ir simd webrtc $rate $ch)" \
        "${speex_fixed[$rate.$ch]}" "${speex_float[$rate.$ch]}"
    done
  done
done

# The 1024-point transform pair (forward + normalised inverse).
kf=$out/cg.kiss.$$
valgrind --tool=callgrind --callgrind-out-file="$kf" --toggle-collect='kiss_pair*' \
  "$kiss/perf_kissfft" $frames >/dev/null 2>&1
kiss_ir=$(callgrind_annotate "$kf" 2>/dev/null | awk -v n=$frames \
  '/PROGRAM TOTALS/ { gsub(",", "", $1); printf "%.0fk", $1 / n / 1000 }')
rm -f "$kf"
echo
echo "| 1024-point pair | Ir SIMD | Ir C | arm NEON | arm C | kissfft FIXED_POINT=32 Ir |"
echo "|---|---:|---:|---:|---:|---:|"
printf '| forward + inverse | %s | %s | %s | %s | %s |\n' \
  "$(ir simd fftpair 48000 1)" "$(ir c fftpair 48000 1)" \
  "$(arm_count arm-simd fftpair 48000 1)" "$(arm_count arm-c fftpair 48000 1)" "$kiss_ir"

# Real-time factors: one minute of the sample (looped), at 44.1 kHz and at
# the engine's own rates.
rtf_dir=$out/rtf
mkdir -p "$rtf_dir"
for r in 44100 48000 16000; do
  sox samples/noisy_speech.wav -r $r -b 16 "$rtf_dir/in$r.wav" repeat 9 trim 0 60
  sox "$rtf_dir/in$r.wav" -t raw "$rtf_dir/in$r.raw"
done
seconds() {  # command... -> wall seconds of the median of 3 runs
  local r t
  local -a runs=()
  for r in 1 2 3; do
    t=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return; }
    runs+=($(( $(date +%s%N) - t )))
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p | awk '{ printf "%.3f", $1 / 1e9 }'
}
clean_s() {  # mode rate
  seconds "$out/tools/tools/vocrel-clean" -q -f --mode "$1" "$rtf_dir/in$2.wav" "$rtf_dir/out.wav"
}
plugin_s() {  # mode rate
  seconds "$out/tools/plugins/vocrel-ladspa-probe" run "$out/tools/plugins/vocrel_rnr.so" \
    vocrel_rnr_mono "$2" "$rtf_dir/in$2.raw" "$rtf_dir/out.raw" mode="$1"
}
rtf_row() {  # label mode native-rate 44.1k-seconds native-seconds
  [ -n "$4" ] && [ -n "$5" ] || { echo "| $1 | $2 | - | - | - |"; return; }
  awk -v l="$1" -v m="$2" -v n="$3" -v a="$4" -v b="$5" 'BEGIN {
    printf "| %s | %s | %.4f (%.0fx) | %.4f (%.0fx) at %g kHz | %.0f%% |\n", l, m, a / 60, 60 / a,
      b / 60, 60 / b, n / 1000, (a > 0 ? 100 * (a - b) / a : 0) }'
}
echo
echo "| real-time factor, 60 s mono | mode | 44.1 kHz (libsoxr both ways) | engine's own rate | conversion's share |"
echo "|---|---|---:|---:|---:|"
for mode in 0 1; do
  native=48000
  [ $mode = 1 ] && native=16000
  rtf_row vocrel-clean $mode $native "$(clean_s $mode 44100)" "$(clean_s $mode $native)"
  rtf_row "LADSPA plugin (probe host)" $mode $native "$(plugin_s $mode 44100)" \
    "$(plugin_s $mode $native)"
done
