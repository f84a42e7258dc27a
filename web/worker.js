// Reads WAV files and cleans decoded files off the page's thread: the
// channels go through the WebAssembly frame cleaner one block at a time, then
// the figures the page shows are measured here too (levels per 10 ms frame,
// noise in the pauses, spectrograms), so that a ten-minute file never holds
// up the page.
'use strict';

importScripts('vocrel_web.js', 'vocrel.js', 'wav.js');

const modulePromise = createVocrelModule();

const FRAME_S = 0.010; // analysis frame: the engine's 10 ms frame
const SETTLE_S = 0.5; // start-up left out of the figures while the noise estimate settles
const QUIET_FRACTION = 0.15; // the quietest share of frames are the pauses
const LOUD_FRACTION = 0.2; // the loudest share of frames are speech
const SPEC_COLUMNS = 600; // spectrogram columns across the whole file
const PROGRESS_MS = 100; // progress messages at most this often

// Requests carry an id that the answer repeats: {type: 'info'} asks the
// cleaner's limits and defaults, {type: 'wav', file} the samples of a WAV
// File (as Float32Arrays, moved to the page), read here so that the page's
// thread is not held while a long file's bytes are copied and converted,
// {type: 'rate', rate, mode} the engine rate a file is cleaned at, {type:
// 'clean', channels, rate, settings} cleans it (with progress messages on the
// way). A failure answers {type: 'error'}.
self.onmessage = async (event) => {
  const job = event.data;
  const answer = (message, transfer = []) => self.postMessage({ ...message, id: job.id }, transfer);
  try {
    if (job.type === 'wav') {
      const bytes = await job.file.arrayBuffer();
      const h = wavHeader(bytes);
      if (!h || h.problem) throw new Error(h ? h.problem : 'not a WAV file');
      const channels = wavSamples(bytes, h);
      answer({ type: 'wav', rate: h.rate, frames: h.frames, channels }, channels.map((c) => c.buffer));
      return;
    }
    const M = await modulePromise;
    if (job.type === 'info') {
      answer({ type: 'info', maxChannels: M._vw_max_channels(), defaultMaxNr: [0, 1].map((m) => M._vw_default_max_nr(m)) });
    } else if (job.type === 'rate') {
      answer({ type: 'rate', engineRate: M._vw_engine_rate(job.rate, job.mode) });
    } else {
      const cleaned = clean(M, job);
      // The WAV is made here: a Blob passes to the page without a copy.
      const wav = wavBlob(cleaned.pcm, job.rate, job.channels.length);
      delete cleaned.pcm;
      const result = { type: 'done', wav, ...cleaned, ...analyse(job.channels, cleaned.planar, job.rate) };
      answer(result, cleaned.planar.map((c) => c.buffer));
    }
  } catch (err) {
    answer({ type: 'error', message: String((err && err.message) || err) });
  }
};

// Runs the channels (Float32Arrays of full-scale samples) through the cleaner.
// Returns the output interleaved as 16-bit samples (for the WAV) and planar
// as floats (for playback), with what the automatic threshold chose.
function clean(M, job) {
  const { channels, rate, settings } = job;
  const nch = channels.length;
  const frames = channels[0].length;
  const block = rate; // one second at a time
  const cleaner = new VocrelCleaner(M, rate, nch, {
    mode: settings.mode, maxNr: settings.maxNr,
    levelThr: settings.autoThreshold ? 'auto' : settings.levelThr,
  }, block);
  try {
    const pcm = new Int16Array(frames * nch);
    let written = 0;
    const take = (out) => {
      const room = Math.min(out.length, pcm.length - written);
      pcm.set(out.subarray(0, room), written);
      written += room;
    };
    const input = new Float32Array(block * nch);
    let last = 0;
    for (let start = 0; start < frames; start += block) {
      const n = Math.min(block, frames - start);
      for (let c = 0; c < nch; ++c) {
        const ch = channels[c];
        for (let i = 0; i < n; ++i) input[i * nch + c] = ch[start + i];
      }
      take(cleaner.process(input.subarray(0, n * nch)));
      const now = Date.now();
      if (now - last >= PROGRESS_MS) {
        last = now;
        self.postMessage({ type: 'progress', done: start + n, total: frames });
      }
    }
    take(cleaner.finish());
    if (written !== pcm.length) throw new Error(`the cleaner gave ${written} samples for ${pcm.length}`);
    self.postMessage({ type: 'progress', done: frames, total: frames });

    const planar = [];
    for (let c = 0; c < nch; ++c) {
      const ch = new Float32Array(frames);
      for (let i = 0; i < frames; ++i) ch[i] = pcm[i * nch + c] / 32768;
      planar.push(ch);
    }
    return {
      pcm, planar, thresholds: cleaner.thresholdChanges(), clipped: cleaner.clipped,
      latencyMs: (cleaner.latency / rate) * 1000,
      silentFrames: cleaner.silentFrames,
      silenceHolds: cleaner.silenceHolds,
    };
  } finally {
    cleaner.destroy();
  }
}

// 16-bit PCM WAV of interleaved samples.
function wavBlob(pcm, rate, channels) {
  const h = new DataView(new ArrayBuffer(44));
  const put = (o, s) => { for (let i = 0; i < 4; ++i) h.setUint8(o + i, s.charCodeAt(i)); };
  put(0, 'RIFF');
  h.setUint32(4, 36 + pcm.byteLength, true);
  put(8, 'WAVE');
  put(12, 'fmt ');
  h.setUint32(16, 16, true);
  h.setUint16(20, 1, true);
  h.setUint16(22, channels, true);
  h.setUint32(24, rate, true);
  h.setUint32(28, rate * channels * 2, true);
  h.setUint16(32, channels * 2, true);
  h.setUint16(34, 16, true);
  put(36, 'data');
  h.setUint32(40, pcm.byteLength, true);
  return new Blob([h.buffer, pcm.buffer], { type: 'audio/wav' }); // little-endian, as every browser's typed arrays
}

// ---- figures ---------------------------------------------------------------------

// Mean power per 10 ms frame in 16-bit units squared, channels summed.
function framePower(channels, frame) {
  const n = Math.floor(channels[0].length / frame);
  const p = new Float64Array(n);
  for (const ch of channels) {
    for (let f = 0; f < n; ++f) {
      let s = 0;
      for (let i = f * frame, end = i + frame; i < end; ++i) {
        const v = ch[i] * 32768;
        s += v * v;
      }
      p[f] += s / frame;
    }
  }
  return p;
}

const FULL_SCALE_POWER = 32768 * 32768;
function db(power) {
  return 10 * Math.log10(Math.max(power / FULL_SCALE_POWER, 1e-10));
}

// Value at fraction q of the sorted values, linear between neighbours.
function quantile(sorted, q) {
  const pos = (sorted.length - 1) * q;
  const lo = Math.floor(pos);
  const hi = Math.min(lo + 1, sorted.length - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (pos - lo);
}

// Noise in the pauses (the quietest frames of the input, after the settling
// time) before and after, the speech level change over the loudest frames,
// the frame levels for the level figure and the two spectrograms.
function analyse(input, output, rate) {
  const frame = Math.round(rate * FRAME_S);
  const pIn = framePower(input, frame);
  const pOut = framePower(output, frame);
  const settle = Math.round(SETTLE_S / FRAME_S);
  const lvl = Array.from(pIn, db);
  const counted = lvl.length > settle ? lvl.slice(settle) : lvl;
  const sorted = counted.slice().sort((a, b) => a - b);
  const figures = { pauseFrames: 0 };
  if (sorted.length > 0) {
    const quiet = quantile(sorted, QUIET_FRACTION);
    const loud = quantile(sorted, 1 - LOUD_FRACTION);
    const first = lvl.length > settle ? settle : 0;
    let nIn = 0, nOut = 0, sIn = 0, sOut = 0, pauses = 0;
    for (let f = first; f < lvl.length; ++f) {
      if (lvl[f] <= quiet) { nIn += pIn[f]; nOut += pOut[f]; ++pauses; }
      if (lvl[f] >= loud) { sIn += pIn[f]; sOut += pOut[f]; }
    }
    figures.pauseFrames = pauses;
    figures.noiseBeforeDb = db(nIn / pauses);
    figures.noiseAfterDb = db(nOut / pauses);
    figures.speechChangeDb = sIn > 0 && sOut > 0 ? 10 * Math.log10(sOut / sIn) : NaN;
  }
  return {
    figures,
    levels: { input: columns(pIn), output: columns(pOut), framesPerColumn: pIn.length / SPEC_COLUMNS },
    spectrograms: { input: spectrogram(input[0], rate), output: spectrogram(output[0], rate) },
  };
}

// Frame powers reduced to SPEC_COLUMNS columns (mean power), in dBFS.
function columns(p) {
  const out = new Float32Array(Math.min(SPEC_COLUMNS, p.length));
  for (let c = 0; c < out.length; ++c) {
    const a = Math.floor((c * p.length) / out.length);
    const b = Math.max(a + 1, Math.floor(((c + 1) * p.length) / out.length));
    let s = 0;
    for (let f = a; f < b; ++f) s += p[f];
    out[c] = db(s / (b - a));
  }
  return out;
}

// Power spectrogram in dBFS of channel x: one Hann-windowed transform of
// about 32 ms (a power of two) per column, columns spread over the file.
function spectrogram(x, rate) {
  const nfft = 1 << Math.round(Math.log2(rate * 0.032));
  const bins = nfft / 2;
  const cols = Math.max(1, Math.min(SPEC_COLUMNS, Math.floor(x.length / (nfft / 2))));
  const window = new Float64Array(nfft);
  let wsum = 0;
  for (let i = 0; i < nfft; ++i) {
    window[i] = 0.5 - 0.5 * Math.cos((2 * Math.PI * i) / nfft);
    wsum += window[i];
  }
  const re = new Float64Array(nfft);
  const im = new Float64Array(nfft);
  const data = new Float32Array(cols * bins);
  const span = Math.max(0, x.length - nfft);
  for (let c = 0; c < cols; ++c) {
    const start = cols > 1 ? Math.round((c * span) / (cols - 1)) : 0;
    for (let i = 0; i < nfft; ++i) {
      const k = start + i;
      re[i] = (k < x.length ? x[k] : 0) * window[i];
      im[i] = 0;
    }
    fft(re, im);
    for (let b = 0; b < bins; ++b) {
      const mag = (2 * Math.hypot(re[b], im[b])) / wsum; // full-scale sine: 1
      data[c * bins + b] = 20 * Math.log10(Math.max(mag, 1e-6));
    }
  }
  return { cols, bins, rate, data };
}

// In-place radix-2 transform of a power-of-two length.
function fft(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; ++i) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let len = 2; len <= n; len <<= 1) {
    const ang = (-2 * Math.PI) / len;
    const wr = Math.cos(ang);
    const wi = Math.sin(ang);
    for (let i = 0; i < n; i += len) {
      let cr = 1, ci = 0;
      for (let k = 0; k < len / 2; ++k) {
        const a = i + k, b = a + len / 2;
        const tr = re[b] * cr - im[b] * ci;
        const ti = re[b] * ci + im[b] * cr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
        const nr = cr * wr - ci * wi;
        ci = cr * wi + ci * wr;
        cr = nr;
      }
    }
  }
}
