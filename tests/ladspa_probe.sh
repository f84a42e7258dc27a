#!/usr/bin/env bash
# The plugin under the probe host: alignment and bit-exactness at the native
# rates, latency at converted rates, independence from the host's block sizes,
# no allocation or lock inside run(), fresh state on activate, control timing,
# clamping and mode changes.
source "$(dirname "$0")/ladspa_common.sh"
need sox
# Sanitizer builds run a shorter round (the same checks on fewer cases).
QUICK=${5:-}
quick() { [ "$QUICK" = quick ]; }

# prun OUT.raw RATE CH INPUT.raw ARGS...: runs the plugin; fails the test when
# run() allocated, locked or printed anything (the probe itself prints five
# lines at the end). Leaves the reported latency in $LAT.
prun() {
  local out=$1 rate=$2 ch=$3 in=$4
  shift 4
  local log
  log=$("$PROBE" run "$PLUGIN" "$(label_for "$ch")" "$rate" "$in" "$out" "$@" 2>"$WORK/stderr")
  if [ -s "$WORK/stderr" ] || [ "$(wc -l <<<"$log")" -ne 5 ]; then
    fail "the plugin printed ($rate Hz, $*): $(cat "$WORK/stderr")"
  fi
  LAT=$(awk '$1 == "latency" { print $2 }' <<<"$log")
  FINAL_LAT=$(awk '$1 == "final_latency" { print $2 }' <<<"$log")
  local allocs locks
  allocs=$(awk '$1 == "allocations" { print $2 }' <<<"$log")
  locks=$(awk '$1 == "locks" { print $2 }' <<<"$log")
  if [ "$allocs" != 0 ] || [ "$locks" != 0 ]; then
    fail "run() allocated $allocs times and locked $locks times ($rate Hz, $*)"
  fi
}

all_same() { cmp -s "$1" "$2" && cmp -s "$1" "$3"; }

# first_diff A B: index of the first differing 16-bit sample, or -1.
first_diff() {
  local byte
  byte=$(cmp "$1" "$2" 2>/dev/null | awk '{ sub(",", "", $5); print $5 }') || true
  [ -z "$byte" ] && echo -1 || echo $(((byte - 1) / 2))
}

# ---- native rates: latency 2 frames, output = engine output, any blocks -------
rates=(8000 16000 48000)
quick && rates=(8000 16000)
for rate in "${rates[@]}"; do
  n=$((rate / 100))
  for ch in 1 2; do
    quick && [ "$rate" -ne 16000 ] && [ "$ch" -eq 2 ] && continue
    make_signal "$rate" "$ch"
    in=$WORK/mix_${rate}_$ch.raw
    for mode in 0 1; do
      [ "$rate" -eq 48000 ] && [ "$mode" -eq 1 ] && continue
      "$PROBE" ref "$rate" "$ch" "$in" "$WORK/ref.raw" mode="$mode"
      for blocks in "--random-blocks 7:700" "--blocks 1" "--blocks 4096,13"; do
        [ "$rate" -eq 48000 ] || quick && [ "$blocks" = "--blocks 1" ] && continue
        # shellcheck disable=SC2086
        prun "$WORK/out.raw" "$rate" "$ch" "$in" mode="$mode" $blocks
        check "$rate Hz ${ch}ch mode $mode: latency $LAT is two frames" [ "$LAT" -eq $((2 * n)) ]
        check "$rate Hz ${ch}ch mode $mode ($blocks): output = engine output $LAT samples later" \
          "$PROBE" compare "$WORK/out.raw" "$WORK/ref.raw" "$ch" "$LAT" "$n"
      done
    done
  done
done

# ---- converted rates: the latency port tells where the speech went ------------
cases=("44100 0" "44100 1" "48000 1" "22050 0" "32000 0" "96000 0" "11025 1")
quick && cases=("44100 0" "48000 1")
for case in "${cases[@]}"; do
  set -- $case
  rate=$1 mode=$2
  make_signal "$rate" 1
  in=$WORK/mix_${rate}_1.raw
  prun "$WORK/out.raw" "$rate" 1 "$in" mode="$mode" --random-blocks 3:1000
  lag=$("$PROBE" lag "$in" "$WORK/out.raw" 1 $((LAT + 200)) $((2 * rate)) $((3 * rate)))
  echo "  $rate Hz mode $mode: latency $LAT, best-correlating delay $lag"
  check "$rate Hz mode $mode: reported latency $LAT within 4 of the measured delay $lag" \
    test $((lag - LAT)) -le 4 -a $((LAT - lag)) -le 4
  noise_in=$("$PROBE" level "$in" 1 "$rate" $((2 * rate)))
  noise_out=$("$PROBE" level "$WORK/out.raw" 1 $((rate + LAT)) $((2 * rate)))
  check "$rate Hz mode $mode: noise $noise_in dB -> $noise_out dB, at least 6 dB less" \
    awk -v a="$noise_in" -v b="$noise_out" 'BEGIN { exit !(b <= a - 6) }'
  # Block sizes never change the output, converters included.
  [ "$case" = "44100 0" ] || [ "$case" = "48000 1" ] || continue
  small="--blocks 1"
  quick && small="--blocks 5,1,3"
  # shellcheck disable=SC2086
  prun "$WORK/a.raw" "$rate" 1 "$in" mode="$mode" $small
  prun "$WORK/b.raw" "$rate" 1 "$in" mode="$mode" --blocks 4096,1,333
  check "$rate Hz mode $mode: the same output for blocks of 1, of 4096/1/333 and random" \
    all_same "$WORK/out.raw" "$WORK/a.raw" "$WORK/b.raw"
done

# That the plugin's output at converted rates is vocrel-clean's, latency
# samples later, is ladspa_alignment's check.

# ---- activate() starts afresh ------------------------------------------------------
cases=("16000 2 0 12345" "44100 1 0 50001" "48000 1 1 70000")
quick && cases=("44100 1 0 50001")
for case in "${cases[@]}"; do
  set -- $case
  rate=$1 ch=$2 mode=$3 at=$4
  make_signal "$rate" "$ch"
  in=$WORK/mix_${rate}_$ch.raw
  tail -c +$((2 * ch * at + 1)) "$in" >"$WORK/tail.raw"
  prun "$WORK/whole.raw" "$rate" "$ch" "$in" mode="$mode" --activate-at "$at" --random-blocks 5:900
  prun "$WORK/fresh.raw" "$rate" "$ch" "$WORK/tail.raw" mode="$mode" --blocks 256
  tail -c +$((2 * ch * at + 1)) "$WORK/whole.raw" >"$WORK/whole_tail.raw"
  check "$rate Hz mode $mode: after activate() at $at the output is a fresh run's" \
    cmp -s "$WORK/whole_tail.raw" "$WORK/fresh.raw"
done

# ---- controls ------------------------------------------------------------------------
in=$WORK/mix_16000_1.raw
prun "$WORK/a.raw" 16000 1 "$in" mode=7 maxnr=100 thr=-200 vad=0 hp=0.5
prun "$WORK/b.raw" 16000 1 "$in" mode=1 maxnr="$NR_MAX" thr="$THR_MIN" vad="$VAD_MIN" hp=1
check "values out of range act as the nearest accepted ones" cmp -s "$WORK/a.raw" "$WORK/b.raw"
prun "$WORK/a.raw" 16000 1 "$in" mode=0 maxnr=nan thr=-54.6 vad=49.7
prun "$WORK/b.raw" 16000 1 "$in" mode=0 maxnr=15 thr=-55 vad=50
check "NaN gives the default, fractions round to the nearest whole value" \
  cmp -s "$WORK/a.raw" "$WORK/b.raw"

# A depth change reaches the engine with the next frame, not before.
n=160
at=50050 # inside frame 312; that frame is the first to use the new depth
prun "$WORK/a.raw" 16000 1 "$in" maxnr=15 --blocks 97
prun "$WORK/b.raw" 16000 1 "$in" maxnr=15 --blocks 97 --at "$at" maxnr=4
d=$(first_diff "$WORK/a.raw" "$WORK/b.raw")
frame=$((at / n))
check "depth change at $at: first changed output sample $d in $((frame * n + n))..$((frame * n + 6 * n))" \
  test "$d" -ge $((frame * n + n)) -a "$d" -lt $((frame * n + 6 * n))

# A mode change (or, in mode 1, a detector change) starts a fresh instance at the
# next frame: from there on the output is that of a fresh run on the rest.
for change in "mode=0 mode=1" "mode=1 vad3=1"; do
  set -- $change
  at=$((200 * n))
  tail -c +$((2 * at + 1)) "$in" >"$WORK/tail.raw"
  prun "$WORK/whole.raw" 16000 1 "$in" "$1" --random-blocks 9:500 --at "$at" "$2"
  prun "$WORK/fresh.raw" 16000 1 "$WORK/tail.raw" "$1" "$2"
  tail -c +$((2 * (at + n) + 1)) "$WORK/whole.raw" >"$WORK/w.raw"
  tail -c +$((2 * n + 1)) "$WORK/fresh.raw" >"$WORK/f.raw"
  check "16 kHz, $1 then $2 at frame 200: a fresh instance from that frame on" \
    cmp -s "$WORK/w.raw" "$WORK/f.raw"
done

# At 48 kHz mode 1 runs at 16 kHz: switching back and forth moves between the
# native and the converted road without allocating, and the port follows.
make_signal 48000 1
lat1=$(latency 48000 1 1)
prun "$WORK/a.raw" 48000 1 "$WORK/mix_48000_1.raw" mode=0 --random-blocks 4:1500 \
  --at 40000 mode=1 --at 100000 mode=0 --at 160000 mode=1 --at 230000 mode=0 --at 300000 mode=1
check "48 kHz mode switches: latency $LAT in mode 0, $FINAL_LAT in mode 1 (alone $lat1)" \
  test "$LAT" -eq 960 -a "$FINAL_LAT" -eq "$lat1"

finish
