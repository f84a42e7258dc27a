// RNNoise, the WebAssembly build from the npm registry (pinned in
// bench/quality/package.json), under Node. RNNoise works at 48 kHz only: the
// bench converts other rates to 48 kHz and back around this driver.
// usage: node rnnoise_driver.mjs 48000 IN.raw OUT.raw
// Raw 16-bit mono PCM in and out, 10 ms frames; prints
// "frames=N ns_per_frame=T" (wall time of the processing calls only).
import { readFileSync, writeFileSync } from "node:fs";

// The package's loader runs only where a browser global exists; the wasm is
// embedded in it, so that global is all it needs from the browser.
globalThis.window ??= globalThis;

const [rate, src, dst] = [Number(process.argv[2]), process.argv[3], process.argv[4]];
if (rate !== 48000 || !src || !dst) {
  console.error("usage: node rnnoise_driver.mjs 48000 IN.raw OUT.raw");
  process.exit(2);
}
// Found in bench/quality/node_modules (resolved from this file, wherever
// the driver is started); imported after the global above is in place.
const { Rnnoise } = await import("@shiguredo/rnnoise-wasm");

const rnnoise = await Rnnoise.load();
const state = rnnoise.createDenoiseState();
const F = rnnoise.frameSize; // 480: 10 ms at 48 kHz
const buf = readFileSync(src);
const x = new Int16Array(buf.buffer, buf.byteOffset, buf.length >> 1);
const n = x.length;
// The output lags the input by two frames (960 samples, measured on speech by
// cross-correlation): run that much further on zeros and drop the lag, so the
// output lines up with the input.
const DELAY = 2 * F;
const frames = Math.ceil((n + DELAY) / F);
const y = new Int16Array(frames * F);
const frame = new Float32Array(F);
let ns = 0n;
for (let k = 0; k < frames; ++k) {
  for (let i = 0; i < F; ++i) frame[i] = k * F + i < n ? x[k * F + i] : 0; // 16-bit scale
  const t0 = process.hrtime.bigint();
  state.processFrame(frame);
  ns += process.hrtime.bigint() - t0;
  for (let i = 0; i < F; ++i) y[k * F + i] = Math.max(-32768, Math.min(32767, Math.round(frame[i])));
}
state.destroy();
writeFileSync(dst, Buffer.from(y.buffer, DELAY * 2, n * 2));
console.log(`frames=${frames} ns_per_frame=${Math.round(Number(ns) / frames)}`);
