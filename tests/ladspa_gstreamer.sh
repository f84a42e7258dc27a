#!/usr/bin/env bash
# The plugins as GStreamer elements (the LADSPA elements of gst-plugins-bad),
# fed in buffers of odd sizes: shifted by the reported latency the output is
# the engine's aligned output; at a converted rate it equals sox's output.
source "$(dirname "$0")/ladspa_common.sh"
need sox gst-launch-1.0 gst-inspect-1.0

# A registry of our own, so that the scan sees LADSPA_PATH.
export GST_REGISTRY=$WORK/gst-registry.bin
element() { echo "ladspa-$(tr '_' '-' <<<"$PLUGIN_MODULE")-so-$(label_for "$1" | tr '_' '-')"; }
gst-inspect-1.0 "$(element 1)" >/dev/null 2>&1 || {
  echo "skipped: no GStreamer LADSPA element (gstreamer1.0-plugins-bad)"
  exit 77
}

# gst_clean RATE CH BLOCK IN.raw OUT.raw PROPERTIES...: raw 16-bit PCM through
# the element in buffers of BLOCK frames.
gst_clean() {
  local rate=$1 ch=$2 block=$3 in=$4 out=$5
  shift 5
  gst-launch-1.0 -q filesrc location="$in" \
    ! rawaudioparse use-sink-caps=false format=pcm pcm-format=s16le sample-rate="$rate" \
    num-channels="$ch" ! audioconvert \
    ! audiobuffersplit output-buffer-duration="$block/$rate" \
    ! "$(element "$ch")" "$@" \
    ! audioconvert dithering=none ! "audio/x-raw,format=S16LE" ! filesink location="$out"
}

# case: rate, channels, buffer frames, mode, max reduction, high-pass, third detector
for case in "16000 1 37 0 15 0 0" "48000 2 441 0 11 0 0" "8000 1 1 1 15 1 1" "16000 2 1001 1 20 0 0"; do
  set -- $case
  rate=$1 ch=$2 block=$3 mode=$4 maxnr=$5 hp=$6 vad3=$7
  make_signal "$rate" "$ch"
  in=$WORK/mix_${rate}_$ch
  hpb=false vad3b=false
  [ "$hp" -eq 1 ] && hpb=true
  [ "$vad3" -eq 1 ] && vad3b=true
  gst_clean "$rate" "$ch" "$block" "$in.raw" "$WORK/gst.raw" mode="$mode" max-reduction-db="$maxnr" \
    highpass-filter=$hpb third-detector=$vad3b
  check_shifted "gst-launch, $rate Hz, $ch channel(s), buffers of $block, mode $mode" \
    "$WORK/gst.raw" "$rate" "$ch" "$mode" "$maxnr" 0 "$hp" 50 "$vad3"
  check "gst-launch, $rate Hz, $ch channel(s): length kept" \
    test "$(stat -c %s "$WORK/gst.raw")" -eq "$(stat -c %s "$in.raw")"
done

# A converted rate: the same samples as sox gives with its own block size.
make_signal 44100 2
in=$WORK/mix_44100_2
gst_clean 44100 2 127 "$in.raw" "$WORK/gst.raw"
sox -D "$in.wav" "$WORK/sox.wav" ladspa "$PLUGIN_MODULE" vocrel_rnr_stereo
to_raw "$WORK/sox.wav" "$WORK/sox.raw"
check "gst-launch and sox at 44.1 kHz stereo give the same samples" cmp -s "$WORK/gst.raw" "$WORK/sox.raw"

finish
