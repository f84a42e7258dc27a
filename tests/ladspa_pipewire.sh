#!/usr/bin/env bash
# The installed PipeWire filter-chain configuration in a private, headless
# PipeWire daemon with no LADSPA_PATH: it names the installed plugin by its
# path, loads it and offers the cleaned virtual microphone; a file played into
# it and recorded from it comes out exactly as the plugin cleans it under the
# probe host.
# With no session manager the test configures the ports and links them itself.
source "$(dirname "$0")/ladspa_common.sh"
need sox pipewire pw-cli pw-link pw-play pw-record

BUILD=${6:?the build folder}
CONF=$WORK/pw-conf
RUN=$WORK/pw-run
mkdir -p "$CONF/vocrel-test.conf.d" "$RUN"
cmake --install "$BUILD" --prefix "$WORK/prefix" >"$WORK/install.log"
installed=$(find "$WORK/prefix" -name vocrel-rnr-filter-chain.conf)
named=$(sed -n 's/^ *plugin *= *"\(.*\)"$/\1/p' "$installed")
check "the installed configuration names the installed plugin ($named)" \
  test -f "$named" -a "${named#"$WORK"/prefix/}" != "$named"
cp "$installed" "$CONF/vocrel-test.conf.d/"
unset LADSPA_PATH
# The daemon: native protocol, a dummy driver clocking the graph at 48 kHz in
# quanta of 4096 samples (85 ms, room for a busy machine), and whatever
# vocrel-test.conf.d/ adds (the filter chain).
cat >"$CONF/vocrel-test.conf" <<'EOF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.quantum = 4096
    default.clock.min-quantum = 4096
    default.clock.max-quantum = 4096
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access args = { } }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name = support.node.driver
            node.name = Dummy-Driver
            priority.driver = 20000
        }
    }
]
EOF

export XDG_RUNTIME_DIR=$RUN PIPEWIRE_RUNTIME_DIR=$RUN
unset PIPEWIRE_REMOTE
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

pw() { timeout 5 "$@"; }
start_daemon() {
  PIPEWIRE_CONFIG_DIR=$CONF pipewire -c vocrel-test.conf >"$WORK/pipewire.log" 2>&1 &
  daemon=$!
  pids+=($daemon)
  for _ in $(seq 50); do
    pw pw-cli info 0 >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
stop_daemon() {
  kill "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
}
node_id() {
  pw pw-cli ls Node | awk -v want="node.name = \"$1\"" '
    $1 == "id" { id = $2; sub(",", "", id) }
    index($0, want) { print id; exit }'
}
wait_node() {
  local id=""
  for _ in $(seq 50); do
    id=$(node_id "$1")
    [ -n "$id" ] && break
    sleep 0.1
  done
  echo "$id"
}
# dsp_ports NODE DIRECTION: what a session manager would do, one float port.
dsp_ports() {
  pw pw-cli s "$(wait_node "$1")" PortConfig "{ \"direction\": \"$2\", \"mode\": \"dsp\",
    \"format\": { \"mediaType\": \"audio\", \"mediaSubtype\": \"raw\", \"format\": \"F32P\",
    \"rate\": 48000, \"channels\": 1, \"position\": [ \"MONO\" ] } }" >/dev/null
}

if ! start_daemon; then
  cat "$WORK/pipewire.log"
  echo "skipped: a headless PipeWire daemon does not start here"
  exit 77
fi
source_id=$(wait_node vocrel_rnr_source)
check "the configuration offers the virtual microphone vocrel_rnr_source" test -n "$source_id"
check "its media class is Audio/Source" \
  grep -q 'media.class = "Audio/Source"' <<<"$(pw pw-cli info "$source_id")"
[ -n "$source_id" ] || { finish; exit 1; }

make_signal 48000 1
in=$WORK/mix_48000_1
lat=$(latency 48000 1 0)

# play_and_record: the file into the filter's input, the virtual microphone
# into $WORK/rec.raw. The recorder is linked first, so the graph (and the
# plugin) runs on silence until the player joins.
play_and_record() {
  dsp_ports capture.vocrel_rnr_source Input
  dsp_ports vocrel_rnr_source Output
  pw-record -P '{ node.name = vocrel-test-record }' --rate 48000 --channels 1 --format s16 \
    "$WORK/rec.wav" &
  local rec=$!
  pids+=($rec)
  dsp_ports vocrel-test-record Input
  pw pw-link vocrel_rnr_source:capture_MONO vocrel-test-record:input_MONO
  pw-play -P '{ node.name = vocrel-test-play }' "$in.wav" &
  local play=$!
  pids+=($play)
  dsp_ports vocrel-test-play Output
  pw pw-link vocrel-test-play:output_MONO capture.vocrel_rnr_source:input_MONO
  local seconds
  seconds=$(soxi -D "$in.wav")
  timeout "$(awk -v s="$seconds" 'BEGIN { print int(s) + 10 }')" tail --pid="$play" -f /dev/null ||
    true
  sleep 0.5
  kill -INT "$rec"
  wait "$rec" 2>/dev/null || true
  to_raw "$WORK/rec.wav" "$WORK/rec.raw"
}

# matches_plugin: finds where the file's speech (from 2 s on) sits in the
# recording, less the latency that is where the file began; then runs the
# same input (silence, then the file) through the plugin under the probe host
# and compares. pw-play may leave out the file's last, partial quantum: the
# comparison stops before the output that depends on it.
matches_plugin() {
  local lag start
  lag=$("$PROBE" lag "$in.raw" "$WORK/rec.raw" 1 96000 96000 120000)
  start=$((lag - lat))
  echo "  recorded $(soxi -s "$WORK/rec.wav") samples, the file from sample $start on (latency $lat)"
  [ "$start" -ge 0 ] || return 1
  head -c $((2 * start)) /dev/zero | cat - "$in.raw" >"$WORK/played.raw"
  "$PROBE" run "$PLUGIN" vocrel_rnr_mono 48000 "$WORK/played.raw" "$WORK/expected.raw" >/dev/null
  head -c $(($(stat -c %s "$WORK/expected.raw") - 2 * 4096)) "$WORK/expected.raw" >"$WORK/e.raw"
  "$PROBE" compare "$WORK/rec.raw" "$WORK/e.raw" 1 0 480
}

# The dummy driver keeps real time: on a loaded machine a client can miss a
# cycle and the graph then plays a gap. A fresh daemon gets up to three tries.
ok=1
for attempt in 1 2 3; do
  if [ "$attempt" -gt 1 ]; then
    stop_daemon
    start_daemon || break
    wait_node vocrel_rnr_source >/dev/null
  fi
  play_and_record
  if matches_plugin; then
    ok=0
    break
  fi
  echo "  try $attempt differs"
done
check "virtual microphone = the plugin's output for the same input, sample for sample" \
  test "$ok" -eq 0

finish
