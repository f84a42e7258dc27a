#!/usr/bin/env bash
# The plugins in real hosts: analyseplugin and applyplugin (ladspa-sdk) and
# sox's ladspa effect. Shifted by the latency the plugin reports, the hosts'
# output equals the engine's aligned output (the command-line tool's when it
# is built) sample for sample; a 44.1 kHz file keeps its rate and length.
source "$(dirname "$0")/ladspa_common.sh"
need sox soxi analyseplugin applyplugin

# ---- analyseplugin: labels, IDs and ports -------------------------------------------
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

# The hint defaults are the engine's defaults: see "sox without control values"
# below; the ranges' clamping is the probe test's.

# ---- sox and applyplugin against the engine's aligned output -------------------------
# compare_host HOST RATE CH MODE MAXNR THR HP VAD VAD3
compare_host() {
  local host=$1 rate=$2 ch=$3 mode=$4
  shift 4
  local controls=("$mode" "$@") in=$WORK/mix_${rate}_$ch.wav out=$WORK/host.wav label
  make_signal "$rate" "$ch"
  label=$(label_for "$ch")
  case $host in
    sox) sox -D "$in" "$out" ladspa "$PLUGIN_MODULE" "$label" "${controls[@]}" ;;
    applyplugin) applyplugin "$in" "$out" "$PLUGIN" "$label" "${controls[@]}" >/dev/null ;;
  esac
  to_raw "$out" "$WORK/host.raw"
  check_shifted "$host, $rate Hz, $ch channel(s), controls ${controls[*]}" "$WORK/host.raw" \
    "$rate" "$ch" "${controls[@]}"
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
compare_host applyplugin 8000 2 1 12 -55 1 50 0 0

# sox with no control values takes the hint defaults: the engine's defaults.
make_signal 16000 1
sox -D "$WORK/mix_16000_1.wav" "$WORK/host.wav" ladspa "$PLUGIN_MODULE" vocrel_rnr_mono
to_raw "$WORK/host.wav" "$WORK/host.raw"
# shellcheck disable=SC2086
check_shifted "sox without control values runs the engine's defaults" "$WORK/host.raw" 16000 1 \
  $CONTROLS_DEFAULT

# ---- converted rates through sox: rate and length kept ----------------------------------
# (the latency and the noise reduction at these rates are the probe test's)
for case in "44100 1 0" "44100 2 0" "48000 1 1" "22050 1 0"; do
  set -- $case
  make_signal "$1" "$2"
  in=$WORK/mix_$1_$2.wav
  sox -D "$in" "$WORK/host.wav" ladspa "$PLUGIN_MODULE" "$(label_for "$2")" "$3"
  check "$1 Hz, $2 channel(s), mode $3: rate and length kept" \
    test "$(soxi -r "$WORK/host.wav")" = "$1" -a "$(soxi -s "$WORK/host.wav")" = "$(soxi -s "$in")"
done

finish
