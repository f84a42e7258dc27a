#!/usr/bin/env bash
# Converted rates keep a constant delay: a train of chirp bursts, ten minutes
# long, goes through vocrel-clean and through the plugin under the probe host
# (random block sizes); in every 2 s window the best-correlating delay must be
# 0 for the tool and the reported latency for the plugin, and the plugin's
# output must be the tool's, latency samples later.
source "$(dirname "$0")/ladspa_common.sh"
# Sanitizer builds (slow: a debug engine) run 30 s of audio instead of ten minutes.
QUICK=${5:-}
seconds=600
[ "$QUICK" = quick ] && seconds=30
range=40  # delays searched around the expected one

cases=("44100 0 1" "44100 1 1" "22050 0 2" "22050 1 1" "48000 1 2")
for case in "${cases[@]}"; do
  set -- $case
  rate=$1 mode=$2 ch=$3
  what="$rate Hz mode $mode ${ch}ch, $seconds s"
  train=$WORK/train_${rate}_$ch.raw
  [ -f "$train" ] || "$PROBE" train "$rate" "$ch" "$seconds" "$train"
  window=$((2 * rate))

  # The high-pass filter as vocrel-clean has it by default: on in mode 1 only.
  log=$("$PROBE" run "$PLUGIN" "$(label_for "$ch")" "$rate" "$train" "$WORK/plugin.raw" \
    mode="$mode" hp="$mode" --random-blocks 11:3000)
  lat=$(awk '$1 == "latency" { print $2 }' <<<"$log")
  final=$(awk '$1 == "final_latency" { print $2 }' <<<"$log")
  check "$what: the latency port says $lat before and $final after the run" [ "$lat" = "$final" ]
  summary=$("$PROBE" lags "$train" "$WORK/plugin.raw" "$ch" "$window" "$lat" "$range") &&
    ok=1 || ok=0
  echo "  plugin: $summary"
  check "$what: the plugin's delay is its latency $lat in every window" [ "$ok" = 1 ]

  [ -n "$TOOL" ] || continue
  "$TOOL" -q -f --mode "$mode" --raw-in --rate "$rate" --channels "$ch" "$train" "$WORK/tool.raw"
  summary=$("$PROBE" lags "$train" "$WORK/tool.raw" "$ch" "$window" 0 "$range") && ok=1 || ok=0
  echo "  tool: $summary"
  check "$what: vocrel-clean's output is aligned in every window" [ "$ok" = 1 ]
  check "$what: vocrel-clean's output is as long as the input" \
    [ "$(stat -c %s "$WORK/tool.raw")" = "$(stat -c %s "$train")" ]
  check "$what: the plugin gives the tool's samples $lat later" \
    "$PROBE" compare "$WORK/plugin.raw" "$WORK/tool.raw" "$ch" "$lat" "$((rate / 100))"
done
finish
