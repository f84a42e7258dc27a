#!/usr/bin/env bash
# The plugins in real hosts: analyseplugin and applyplugin (ladspa-sdk) and
# sox's ladspa effect. Shifted by the latency the plugin reports, the hosts'
# output equals the engine's aligned output (the command-line tool's when it
# is built) sample for sample; a 44.1 kHz file keeps its rate and length.
source "$(dirname "$0")/ladspa_common.sh"
need sox soxi analyseplugin applyplugin

# ---- analyseplugin: labels, ports, ranges and defaults -------------------------------
listing=$(analyseplugin "$PLUGIN")
listed_with_id() { grep -A1 "Plugin Label: \"$1\"" <<<"$listing" | grep -q "Unique ID: $2"; }
for plugin in "vocrel_rnr_mono 5657166" "vocrel_rnr_stereo 5657167"; do
  set -- $plugin
  check "analyseplugin lists $1 with unique ID $2" listed_with_id "$1" "$2"
done
check "the stereo plugin has two audio inputs and two outputs" \
  grep -q '"Output R" output, audio' <<<"$listing"
check "a latency output port" grep -q '"latency" output, control' <<<"$listing"
# run() neither allocates nor locks (the probe test counts both): hosts may
# call it from a hard real-time thread.
check "both plugins declare hard real-time capability" \
  test "$(grep -c 'Environment: Normal or Hard Real-Time' <<<"$listing")" -eq 2

# port_line NAME: the mono plugin's line for that port.
port_line() {
  analyseplugin "$PLUGIN" vocrel_rnr_mono | grep -F "\"$1\" input, control" | head -1
}
# default_ok NAME KEY LO HI: the default (rounded, as hosts do for integer
# ports) is the engine's, and the range covers LO..HI without straying far.
default_ok() {
  local line dflt lo hi
  line=$(port_line "$1")
  dflt=$(sed -n 's/.*default \(-\{0,1\}[0-9.]*\).*/\1/p' <<<"$line")
  lo=$(sed -n 's/.*control, \(-\{0,1\}[0-9.]*\) to .*/\1/p' <<<"$line")
  hi=$(sed -n 's/.* to \(-\{0,1\}[0-9.]*\),.*/\1/p' <<<"$line")
  awk -v d="$dflt" -v want="$(default_of "$2")" -v lo="$lo" -v hi="$hi" -v a="$3" -v b="$4" \
    'BEGIN { r = (d < 0) ? -int(-d + 0.5) : int(d + 0.5); w = (b - a) / 4
             exit !(r == want && lo <= a && hi >= b && lo >= a - w && hi <= b + w) }'
}
check "mode: default = engine default" default_ok "Mode" mode 0 1
check "maximum reduction: default = engine default, range 2..20" \
  default_ok "Max reduction dB" maxnr 2 20
check "level threshold: default 0 (automatic), fixed values -80..-20" \
  default_ok "Level threshold dB" thr -80 0
check "VAD band threshold: default = engine default, range 45..65" \
  default_ok "VAD band threshold" vad 45 65
for name in "Highpass filter" "Third detector"; do
  key=hp
  [ "$name" = "Third detector" ] && key=vad3
  check "$name: a toggle whose default is the engine's" \
    grep -q "toggled, default $(default_of $key)" <<<"$(port_line "$name")"
done

# ---- sox and applyplugin against the engine's aligned output -------------------------
# compare_host HOST RATE CH MODE MAXNR THR HP VAD VAD3
compare_host() {
  local host=$1 rate=$2 ch=$3 mode=$4
  shift 4
  local controls=("$mode" "$@") n=$((rate / 100)) lat in out label
  make_signal "$rate" "$ch"
  in=$WORK/mix_${rate}_$ch.wav
  out=$WORK/host.wav
  label=$(label_for "$ch")
  case $host in
    sox) sox -D "$in" "$out" ladspa "$PLUGIN_MODULE" "$label" "${controls[@]}" ;;
    applyplugin) applyplugin "$in" "$out" "$PLUGIN" "$label" "${controls[@]}" >/dev/null ;;
  esac
  to_raw "$out" "$WORK/host.raw"
  reference "$rate" "$ch" "$in" "$WORK/ref.raw" "${controls[@]}"
  lat=$(latency "$rate" "$ch" "$mode")
  check "$host, $rate Hz, $ch channel(s), controls ${controls[*]}: shifted by $lat = engine output" \
    "$PROBE" compare "$WORK/host.raw" "$WORK/ref.raw" "$ch" "$lat" "$n"
}

for rate in 8000 16000 48000; do
  for ch in 1 2; do
    compare_host sox "$rate" "$ch" $CONTROLS_DEFAULT
    compare_host sox "$rate" "$ch" 0 9 -62 1 58 0
    compare_host sox "$rate" "$ch" 0 15 -35 0 50 0
    if [ "$rate" -ne 48000 ]; then
      compare_host sox "$rate" "$ch" 1 15 -55 0 50 0
      compare_host sox "$rate" "$ch" 1 18 -55 1 50 1
    fi
  done
done
compare_host applyplugin 16000 1 $CONTROLS_DEFAULT
compare_host applyplugin 8000 2 1 12 -55 1 50 0

# sox with no control values takes the hint defaults: the engine's defaults.
make_signal 16000 1
sox -D "$WORK/mix_16000_1.wav" "$WORK/host.wav" ladspa "$PLUGIN_MODULE" vocrel_rnr_mono
to_raw "$WORK/host.wav" "$WORK/host.raw"
reference 16000 1 "$WORK/mix_16000_1.wav" "$WORK/ref.raw" $CONTROLS_DEFAULT
check "sox without control values runs the engine's defaults" \
  "$PROBE" compare "$WORK/host.raw" "$WORK/ref.raw" 1 320 160

# ---- converted rates through sox: rate and length kept, noise reduced ----------------
for case in "44100 1 0" "44100 2 0" "44100 1 1" "48000 1 1" "22050 1 0"; do
  set -- $case
  rate=$1 ch=$2 mode=$3
  make_signal "$rate" "$ch"
  in=$WORK/mix_${rate}_$ch.wav
  sox -D "$in" "$WORK/host.wav" ladspa "$PLUGIN_MODULE" "$(label_for "$ch")" "$mode"
  check "$rate Hz, $ch channel(s), mode $mode: rate and length kept" \
    test "$(soxi -r "$WORK/host.wav")" = "$rate" -a "$(soxi -s "$WORK/host.wav")" = "$(soxi -s "$in")"
  to_raw "$WORK/host.wav" "$WORK/host.raw"
  lat=$(latency "$rate" "$ch" "$mode")
  lag=$("$PROBE" lag "${in%.wav}.raw" "$WORK/host.raw" "$ch" $((lat + 200)) $((2 * rate)) $((3 * rate)))
  before=$("$PROBE" level "${in%.wav}.raw" "$ch" "$rate" $((2 * rate)))
  after=$("$PROBE" level "$WORK/host.raw" "$ch" $((rate + lat)) $((2 * rate)))
  check "$rate Hz, $ch channel(s), mode $mode: noise $before dB -> $after dB (6 dB or more less), delay $lag ~ latency $lat" \
    awk -v a="$before" -v b="$after" -v g="$lag" -v l="$lat" \
    'BEGIN { exit !(b <= a - 6 && g - l <= 4 && l - g <= 4) }'
done

finish
