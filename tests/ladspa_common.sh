# Shared set-up of the LADSPA plugin tests; sourced by tests/ladspa_*.sh.
# Arguments of every test: PLUGIN.so PROBE TOOL-or-empty PLUGIN-SOURCE-DIR.
# Exit status 77 marks a test skipped for a missing host program.
set -euo pipefail

PLUGIN=$1
PROBE=$2
TOOL=${3:-}
PLUGIN_SRC=${4:-}
PLUGIN_DIR=$(dirname "$PLUGIN")
PLUGIN_MODULE=$(basename "$PLUGIN" .so)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export LADSPA_PATH=$PLUGIN_DIR

passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
need() {
  local p
  for p in "$@"; do
    command -v "$p" >/dev/null || { echo "skipped: $p is not installed"; exit 77; }
  done
}

# The tunables' ranges from the public header: range_of MAX_NR prints "2 20".
range_of() {
  echo $(sed -n "s/^#define VOCREL_RNR_$1_M[AIN][XN] (*\(-*[0-9]*\).*/\1/p" \
    "$PLUGIN_SRC/../../include/vocrel_rnr.h" | sort -n)
}
read -r NR_MIN NR_MAX <<<"$(range_of MAX_NR)"
read -r THR_MIN THR_MAX <<<"$(range_of LEVEL_THR)"
read -r VAD_MIN VAD_MAX <<<"$(range_of VAD_BAND_THR)"

# Engine defaults (the floor-noise default record), as "key value" lines.
default_of() { "$PROBE" defaults | awk -v k="$1" '$1 == k { print $2 }'; }

# make_signal RATE CHANNELS: $WORK/mix_RATE_CH.wav and .raw, 16-bit: two
# seconds of noise near -50 dBFS (where the floor-noise path acts), then speech
# in noise. Channel 2 carries the speech at
# another level in its own noise, so that a mixed-up channel shows.
make_signal() {
  local rate=$1 ch=$2 base=$WORK/mix_$1_$2
  [ -f "$base.raw" ] && return 0
  if [ ! -f "$WORK/speech.wav" ]; then
    if command -v espeak-ng >/dev/null; then
      espeak-ng -w "$WORK/speech.wav" \
        "The quick brown fox jumps over the lazy dog. Noise reduction keeps the voice."
    else
      sox -R -n -r 22050 -b 16 "$WORK/speech.wav" synth 3 sine 180-320 sine 900 \
        tremolo 4 90 vol 0.5
    fi
  fi
  sox -R "$WORK/speech.wav" -r "$rate" -c 1 -b 16 "$WORK/sp.wav" pad 2 0.3 rate "$rate"
  local len
  len=$(soxi -s "$WORK/sp.wav")
  sox -R -n -r "$rate" -c 1 -b 16 "$WORK/n1.wav" synth "${len}s" pinknoise vol 0.03
  sox -R -m "$WORK/sp.wav" "$WORK/n1.wav" -b 16 "$WORK/m1.wav"
  if [ "$ch" -eq 2 ]; then
    sox -R -n -r "$rate" -c 1 -b 16 "$WORK/n2.wav" synth "${len}s" whitenoise vol 0.01
    sox -R -m -v 0.6 "$WORK/sp.wav" "$WORK/n2.wav" -b 16 "$WORK/m2.wav"
    sox -R -M "$WORK/m1.wav" "$WORK/m2.wav" "$base.wav"
  else
    mv "$WORK/m1.wav" "$base.wav"
  fi
  sox "$base.wav" -t raw -e signed -b 16 "$base.raw"
}

to_raw() { sox "$1" -t raw -e signed -b 16 "$2"; }

# Control values in port order: mode maxnr thr hp vad vad3 learn (digital silence).
# A level threshold above the range (the default 0) is the automatic one.
CONTROLS_DEFAULT="0 15 0 0 50 0 0"

# reference RATE CH IN.wav OUT.raw MODE MAXNR THR HP VAD VAD3: the engine's
# aligned output (one-frame delay removed, same length) from the command-line
# tool, or from the probe's direct use of the API when the tool is not built.
reference() {
  local rate=$1 ch=$2 in=$3 out=$4 mode=$5 maxnr=$6 thr=$7 hp=$8 vad=$9 vad3=${10}
  if [ -n "$TOOL" ]; then
    [ "$thr" -gt "$THR_MAX" ] && thr=auto
    "$TOOL" -qf --mode "$mode" --max-nr "$maxnr" --level-thr "$thr" --hp-filter "$hp" \
      --vad-band-thr "$vad" --vad3 "$vad3" --level-adapt-off "$(default_of adapt)" \
      "$in" "$WORK/ref.wav"
    to_raw "$WORK/ref.wav" "$out"
  else
    "$PROBE" ref "$rate" "$ch" "${in%.wav}.raw" "$out" mode="$mode" maxnr="$maxnr" thr="$thr" \
      hp="$hp" vad="$vad" vad3="$vad3"
  fi
}

# check_shifted WHAT HOST.raw RATE CH MODE MAXNR THR HP VAD VAD3: passes when a
# host's output for $WORK/mix_RATE_CH.wav, shifted by the latency the plugin
# reports, is the engine's aligned output for the same controls.
check_shifted() {
  local what=$1 out=$2 rate=$3 ch=$4 lat
  shift 4
  reference "$rate" "$ch" "$WORK/mix_${rate}_$ch.wav" "$WORK/ref.raw" "$@"
  lat=$(latency "$rate" "$ch" "$1")
  check "$what: shifted by $lat = engine output" \
    "$PROBE" compare "$out" "$WORK/ref.raw" "$ch" "$lat" $((rate / 100))
}

label_for() { [ "$1" -eq 2 ] && echo vocrel_rnr_stereo || echo vocrel_rnr_mono; }

# latency RATE CH MODE: the plugin's latency port after a run, as a host reads it.
latency() {
  make_signal "$1" "$2"
  "$PROBE" run "$PLUGIN" "$(label_for "$2")" "$1" "$WORK/mix_$1_$2.raw" "$WORK/lat.raw" \
    mode="$3" | awk '$1 == "latency" { print $2 }'
}
