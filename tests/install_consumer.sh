#!/bin/sh
# Installs the build into a temporary prefix, then builds and runs the C API
# example against the installed files through pkg-config and through
# find_package (shared and static); all three must clean the bundled sample
# to the same bytes. Also runs the installed tool.
# usage: install_consumer.sh BUILD_DIR SOURCE_DIR   (env: CC, CMAKE)
set -eu
build=$1
src=$2
cc=${CC:-cc}
cmake=${CMAKE:-cmake}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
tail -c +45 "$src/samples/noisy_speech.wav" >"$tmp/in.raw"

# pkg-config
pc=$(find "$prefix" -name vocrel_rnr.pc)
[ -n "$pc" ] || { echo "vocrel_rnr.pc not installed" >&2; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir=$(pkg-config --variable=libdir vocrel_rnr)
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror "$src/examples/clean_pcm.c" -o "$tmp/pc_consumer" \
  $(pkg-config --cflags --libs vocrel_rnr) -Wl,-rpath,"$libdir"
"$tmp/pc_consumer" 16000 <"$tmp/in.raw" >"$tmp/out_pc.raw"

# find_package
"$cmake" -S "$src/tests/install_consumer" -B "$tmp/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DEXAMPLE="$src/examples/clean_pcm.c" >/dev/null
"$cmake" --build "$tmp/cm" >/dev/null
"$tmp/cm/clean_pcm" 16000 <"$tmp/in.raw" >"$tmp/out_cm.raw"
"$tmp/cm/clean_pcm_static" 16000 <"$tmp/in.raw" >"$tmp/out_static.raw"

in_bytes=$(wc -c <"$tmp/in.raw")
frame_bytes=320
want=$(( (in_bytes + frame_bytes - 1) / frame_bytes * frame_bytes ))
got=$(wc -c <"$tmp/out_pc.raw")
[ "$got" -eq "$want" ] || { echo "pkg-config consumer wrote $got bytes, expected $want" >&2; exit 1; }
cmp "$tmp/out_pc.raw" "$tmp/out_cm.raw"
cmp "$tmp/out_pc.raw" "$tmp/out_static.raw"

# The installed tool finds the installed library.
if [ -x "$prefix/bin/vocrel-clean" ]; then
  "$prefix/bin/vocrel-clean" -q "$src/samples/noisy_speech.wav" "$tmp/clean.wav"
  [ -s "$tmp/clean.wav" ]
  [ -f "$prefix/share/man/man1/vocrel-clean.1" ] || { echo "the man page is not installed" >&2; exit 1; }
fi
for h in vocrel_rnr.h vocrel_rnr_host.h; do
  [ -f "$prefix/include/$h" ] || { echo "$h not installed" >&2; exit 1; }
done
echo "install consumer: pkg-config, find_package shared and static agree ($got bytes)"
