#!/usr/bin/env bash
# The committed PipeWire filter-chain configuration in a private, headless
# PipeWire daemon: it loads the plugin and offers the cleaned virtual
# microphone; a file played into it and recorded from it comes out exactly as
# the plugin cleans it under the probe host.
# With no session manager the test configures the ports and links them itself.
source "$(dirname "$0")/ladspa_common.sh"
need sox pipewire pw-cli pw-link pw-play pw-record

CONF=$WORK/pw-conf
RUN=$WORK/pw-run
mkdir -p "$CONF/vocrel-test.conf.d" "$RUN"
cp "$PLUGIN_SRC/vocrel-rnr-filter-chain.conf" "$CONF/vocrel-test.conf.d/"
# The daemon: native protocol, a dummy driver clocking the graph at 48 kHz,
# and whatever vocrel-test.conf.d/ adds (the filter chain).
cat >"$CONF/vocrel-test.conf" <<'EOF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.quantum = 1024
    default.clock.min-quantum = 1024
    default.clock.max-quantum = 1024
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

PIPEWIRE_CONFIG_DIR=$CONF pipewire -c vocrel-test.conf >"$WORK/pipewire.log" 2>&1 &
pids+=($!)
pw() { timeout 5 "$@"; }
for _ in $(seq 50); do
  pw pw-cli info 0 >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pw pw-cli info 0 >/dev/null 2>&1; then
  cat "$WORK/pipewire.log"
  echo "skipped: a headless PipeWire daemon does not start here"
  exit 77
fi

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

source_id=$(wait_node vocrel_rnr_source)
check "the configuration offers the virtual microphone vocrel_rnr_source" test -n "$source_id"
check "its media class is Audio/Source" \
  grep -q 'media.class = "Audio/Source"' <<<"$(pw pw-cli info "$source_id")"
[ -n "$source_id" ] || { finish; exit 1; }

make_signal 48000 1
in=$WORK/mix_48000_1
dsp_ports capture.vocrel_rnr_source Input
dsp_ports vocrel_rnr_source Output
pw-record -P '{ node.name = vocrel-test-record }' --rate 48000 --channels 1 --format s16 \
  "$WORK/rec.wav" &
rec=$!
pids+=($rec)
dsp_ports vocrel-test-record Input
pw pw-link vocrel_rnr_source:capture_MONO vocrel-test-record:input_MONO
pw-play -P '{ node.name = vocrel-test-play }' "$in.wav" &
play=$!
pids+=($play)
dsp_ports vocrel-test-play Output
pw pw-link vocrel-test-play:output_MONO capture.vocrel_rnr_source:input_MONO
seconds=$(soxi -D "$in.wav")
timeout "$(awk -v s="$seconds" 'BEGIN { print int(s) + 10 }')" tail --pid="$play" -f /dev/null || true
sleep 0.5
kill -INT "$rec"
wait "$rec" 2>/dev/null || true
to_raw "$WORK/rec.wav" "$WORK/rec.raw"

# The graph ran on silence from the moment the recorder was linked until the
# player joined. Find where the file's speech (from 2 s on) sits in the
# recording; less the plugin's latency that is where the file began.
lat=$(latency 48000 1 0)
lag=$("$PROBE" lag "$in.raw" "$WORK/rec.raw" 1 48000 96000 120000)
start=$((lag - lat))
echo "  recorded $(soxi -s "$WORK/rec.wav") samples, the file from sample $start on (latency $lat)"
check "the recording holds the whole played file" test "$start" -ge 0
# The same input through the plugin under the probe host: silence, then the file.
head -c $((2 * (start > 0 ? start : 0))) /dev/zero | cat - "$in.raw" >"$WORK/played.raw"
"$PROBE" run "$PLUGIN" vocrel_rnr_mono 48000 "$WORK/played.raw" "$WORK/expected.raw" >/dev/null
# pw-play may leave out the file's last, partial quantum of 1024 samples: the
# comparison stops before the output that depends on it.
head -c $(($(stat -c %s "$WORK/expected.raw") - 2 * 1024)) "$WORK/expected.raw" >"$WORK/e.raw"
mv "$WORK/e.raw" "$WORK/expected.raw"
check "virtual microphone = the plugin's output for the same input, sample for sample" \
  "$PROBE" compare "$WORK/rec.raw" "$WORK/expected.raw" 1 0 480

finish
