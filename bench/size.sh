#!/usr/bin/env bash
# Footprint of the engine on the device, beside SpeexDSP's preprocessor.
#
# Builds the armhf shared library (Release, cmake/toolchain-armhf.cmake)
# twice: the default build and one without the environment-noise path
# (VOCREL_MODE1=OFF). For each it prints the library's code (.text) and
# tables (.rodata) as arm-linux-gnueabihf-size -A reports them, and the
# bytes of code and tables per layer (the .text* and .rodata* sections of
# each layer's object files). Beside them: SpeexDSP's preprocessor (denoise
# and its kiss FFT, fixed point) built here for the same CPU at -O2 from
# Debian's source package, as the sum of its object files' sections.
# Usage: bench/size.sh [--no-peer]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/size
mkdir -p "$out"
peer=1
[ "${1:-}" = "--no-peer" ] && peer=0

need=(crossbuild-essential-armhf)
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

size=arm-linux-gnueabihf-size
arm_flags=(-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard)
layers=(base math fft dsp fnr rnr api host autothr)

build() {  # name, extra cmake args...
  local name=$1; shift
  cmake -S . -B "$out/$name" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVOCREL_TESTS=OFF -DVOCREL_TOOLS=OFF -DVOCREL_BENCH=OFF "$@" \
    >/dev/null
  cmake --build "$out/$name" -j2 --target vocrel_rnr >/dev/null
}

sections() {  # files... -> bytes of .text* and .rodata* together
  "$size" -A "$@" | awk '$1 ~ /^\.(text|rodata)/ { s += $2 } END { print s + 0 }'
}

section() {  # library name -> bytes of that section
  "$size" -A "$1" | awk -v n="$2" '$1 == n { print $2 }'
}

row() {  # label build-dir
  local label=$1 dir=$2 lib=$2/libvocrel_rnr.so text rodata layer objs
  text=$(section "$lib" .text)
  rodata=$(section "$lib" .rodata)
  printf '| %s | %s | %s | %s |' "$label" "$text" "$rodata" $((text + rodata))
  for layer in "${layers[@]}"; do
    objs=("$dir/CMakeFiles/vocrel_obj_$layer.dir/src/$layer"/*.o)
    if [ -e "${objs[0]}" ]; then printf ' %s |' "$(sections "${objs[@]}")"; else printf ' - |'; fi
  done
  echo
}

echo "building ..." >&2
build default
build no-mode1 -DVOCREL_MODE1=OFF

# SpeexDSP from Debian's source package (a private apt list of deb-src
# lines, so the system's apt configuration is left alone).
speex_bytes=-
if [ $peer = 1 ]; then
  sp=$out/speexdsp
  if [ ! -e "$sp/objects.done" ]; then
    mkdir -p "$sp/lists/partial" "$sp/gen" "$sp/obj"
    printf 'deb-src http://deb.debian.org/debian bookworm main\n' >"$sp/sources.list"
    apt_opts=(-o Dir::Etc::SourceList="$sp/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o Dir::State::Lists="$sp/lists" -o APT::Sandbox::User=root)
    if ! ls "$sp"/speexdsp_*.orig.tar.gz >/dev/null 2>&1; then
      apt-get -qq "${apt_opts[@]}" update >/dev/null
      (cd "$sp" && apt-get -qq "${apt_opts[@]}" source --download-only speexdsp >/dev/null)
    fi
    tar -xzf "$sp"/speexdsp_1.2.1.orig.tar.gz -C "$sp"
    # The one header its configure script would write.
    cat >"$sp/gen/speexdsp_config_types.h" <<'EOF'
#ifndef __SPEEX_TYPES_H__
#define __SPEEX_TYPES_H__
#include <stdint.h>
typedef int16_t spx_int16_t;
typedef uint16_t spx_uint16_t;
typedef int32_t spx_int32_t;
typedef uint32_t spx_uint32_t;
#endif
EOF
    for f in preprocess filterbank fftwrap kiss_fft kiss_fftr; do
      arm-linux-gnueabihf-gcc -O2 "${arm_flags[@]}" -fPIC -DFIXED_POINT -DUSE_KISS_FFT -DEXPORT= \
        -I"$sp/gen" -I"$sp/speexdsp-1.2.1/include" -c "$sp/speexdsp-1.2.1/libspeexdsp/$f.c" \
        -o "$sp/obj/$f.o"
    done
    touch "$sp/objects.done"
  fi
  speex_bytes=$(sections "$sp"/obj/*.o)
fi

echo "# $(date -u +%Y-%m-%d), armhf (Cortex-A7, NEON), $(arm-linux-gnueabihf-g++ -dumpfullversion)"
echo
printf '| build | .text | .rodata | together |'
for layer in "${layers[@]}"; do printf ' %s |' "$layer"; done
echo
printf '|---|---:|---:|---:|'
for _ in "${layers[@]}"; do printf -- '---:|'; done
echo
row "default" "$out/default"
row "VOCREL_MODE1=OFF" "$out/no-mode1"
echo
echo "SpeexDSP preprocessor (fixed point, kiss FFT, -O2), .text + .rodata of its objects: $speex_bytes"
