// The frame cleaner of the WebAssembly module (vocrel_web.js) as a small JS
// class: an instance for a rate and channel count, blocks of interleaved
// full-scale floats in, the aligned 16-bit output out, the latency and the
// automatic threshold's choices. Loaded with importScripts (a worker),
// <script> or require (Node):
//
//   const M = await createVocrelModule();
//   const c = new VocrelCleaner(M, 48000, 2, { mode: 0, maxNr: 15, levelThr: 'auto' });
//   const parts = [c.process(block1), c.process(block2), c.finish()];  // Int16Arrays
//   c.thresholdChanges();  // [{seconds, db}, ...]
//   c.destroy();
'use strict';

class VocrelCleaner {
  // settings: mode 0 or 1 (default 0), maxNr in dB (default: the mode's),
  // levelThr 'auto' (default) or a number of dB, silenceHold (default true).
  // blockFrames: the largest block handed to the engine at once.
  constructor(M, rate, channels, settings = {}, blockFrames = 4800) {
    const mode = settings.mode || 0;
    const auto = settings.levelThr === undefined || settings.levelThr === 'auto';
    this.M = M;
    this.rate = rate;
    this.channels = channels;
    this.blockFrames = blockFrames;
    this.clipped = 0; // samples beyond full scale, clamped on the way in
    this.w = M._vw_create(rate, channels, mode, settings.maxNr || 0, auto ? 0 : settings.levelThr,
      auto ? 1 : 0, settings.silenceHold === false ? 0 : 1, blockFrames);
    if (!this.w) throw new Error('out of memory');
    const status = M._vw_status(this.w);
    if (status !== 0) {
      this.destroy();
      throw new Error('invalid settings: ' + M.UTF8ToString(M._vw_status_text(status)));
    }
  }

  // The engine's delay in samples per channel, which the output has taken out.
  get latency() { return this.M._vw_latency(this.w); }

  // Cleans interleaved samples (a whole number of sample frames); returns the
  // output that is ready, interleaved 16-bit.
  process(interleaved) {
    const { M, channels } = this;
    const frames = Math.floor(interleaved.length / channels);
    const parts = [];
    for (let start = 0; start < frames; start += this.blockFrames) {
      const n = Math.min(this.blockFrames, frames - start);
      // Views are made afresh after every call: the heap may have grown.
      new Float32Array(M.HEAPF32.buffer, M._vw_input(this.w), n * channels)
        .set(interleaved.subarray(start * channels, (start + n) * channels));
      const r = M._vw_push(this.w, n);
      if (r < 0) throw this.failure(M._vw_status(this.w));
      this.clipped += r;
      parts.push(this.output());
    }
    return parts.length === 1 ? parts[0] : VocrelCleaner.join(parts);
  }

  // End of input: the samples the engine still holds.
  finish() {
    const st = this.M._vw_finish(this.w);
    if (st !== 0) throw this.failure(st);
    return this.output();
  }

  // The automatic threshold's choices: from which second each level in dB acts.
  thresholdChanges() {
    const { M, w } = this;
    const frameSeconds = M._vw_latency(w) / this.rate;
    const out = [];
    for (let i = 0; i < M._vw_threshold_count(w); ++i) {
      out.push({ seconds: M._vw_threshold_frame(w, i) * frameSeconds, db: M._vw_threshold_db(w, i) });
    }
    return out;
  }

  // Engine frames taken as digital silence, and the runs the learnt noise was kept over.
  get silentFrames() { return this.M._vw_silent_frames(this.w); }
  get silenceHolds() { return this.M._vw_silence_holds(this.w); }

  destroy() {
    if (this.w) this.M._vw_destroy(this.w);
    this.w = 0;
  }

  output() {
    const { M, w } = this;
    return new Int16Array(M.HEAP16.buffer, M._vw_output(w), M._vw_output_len(w)).slice();
  }

  failure(status) {
    return new Error('cleaning failed: ' + this.M.UTF8ToString(this.M._vw_status_text(status)));
  }

  static join(parts) {
    const all = new Int16Array(parts.reduce((n, p) => n + p.length, 0));
    let at = 0;
    for (const p of parts) { all.set(p, at); at += p.length; }
    return all;
  }
}

if (typeof module !== 'undefined') module.exports = { VocrelCleaner };
