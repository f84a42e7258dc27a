// The page: takes a file, decodes it with Web Audio at its own rate, has the
// worker clean and measure it, and shows the result with an A/B player, the
// figures, the spectrograms and the cleaned WAV to download.
'use strict';

const MAX_SECONDS = 20 * 60;
// Decoded samples held three times over (input, output, playback): this many
// keep a 20-minute stereo 48 kHz file within a browser tab's memory.
const MAX_SAMPLES = 20 * 60 * 48000 * 2;
const MAX_COMPRESSED_BYTES = 100e6; // formats whose length is known only after decoding (20 minutes at 320 kbit/s: 48 MB)
const HEAD_BYTES = 1 << 20; // the first part of a file, where its header is looked for
const FALLBACK_RATE = 48000; // decoding rate when the file's own is unknown
const SPEC_RANGE_DB = 90; // spectrogram colours span this far below the common peak

const $ = (id) => document.getElementById(id);

const state = {
  file: null, // {name, audio: AudioBuffer at the file's rate, wav: header facts or null, note}
  input: null, // AudioBuffer that was cleaned (the file's, or resampled)
  output: null, // AudioBuffer of the cleaned samples
  job: 0, // number of the latest job; older answers are dropped
  downloadUrl: null,
};
let worker = null;
const pending = new Map(); // request id -> {resolve, reject}
let nextRequest = 1;
let engineInfo = null; // promise of the cleaner's limits and defaults
let player = null;

// ---- settings ------------------------------------------------------------------

function fillSettings() {
  const maxnr = $('maxnr');
  maxnr.add(new Option('default', '0', true, true));
  for (let d = 2; d <= 20; ++d) maxnr.add(new Option(`${d} dB`, String(d)));
  const thr = $('levelthr');
  thr.add(new Option('automatic', 'auto', true, true));
  for (let d = -20; d >= -80; d -= 5) thr.add(new Option(`${d} dB`, String(d)));
  const modeChanged = () => {
    thr.disabled = $('mode').value !== '0'; // the level threshold is mode 0's
    getEngineInfo().then((info) => {
      maxnr.options[0].text = `default (${info.defaultMaxNr[Number($('mode').value)]} dB)`;
    }, () => {});
  };
  $('mode').addEventListener('change', modeChanged);
  modeChanged();
  for (const id of ['mode', 'maxnr', 'levelthr']) {
    $(id).addEventListener('change', () => { $('again').disabled = !state.file || busy(); });
  }
  $('again').addEventListener('click', () => { if (state.file) prepareAndClean(); });
}

function readSettings() {
  const mode = Number($('mode').value);
  const thr = $('levelthr').value;
  const auto = mode === 0 && thr === 'auto';
  return { mode, maxNr: Number($('maxnr').value), autoThreshold: auto, levelThr: auto || mode !== 0 ? 0 : Number(thr) };
}

function describeSettings(s) {
  const parts = [`mode ${s.mode}`, s.maxNr ? `maximum reduction ${s.maxNr} dB` : 'default maximum reduction'];
  if (s.mode === 0) parts.push(s.autoThreshold ? 'automatic level threshold' : `level threshold ${s.levelThr} dB`);
  return parts.join(', ');
}

// ---- messages --------------------------------------------------------------------

function busy() { return document.body.dataset.state === 'working'; }

function setState(name, text, isError = false) {
  document.body.dataset.state = name;
  const m = $('message');
  m.textContent = text;
  m.classList.toggle('error', isError);
  $('progress').hidden = name !== 'working';
  $('again').disabled = name === 'working' || !state.file;
}

function fail(text) {
  ++state.job; // whatever was under way is dropped
  stopWorker();
  player?.stop();
  $('result').hidden = true;
  setState('error', text, true);
}

function formatTime(s) {
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const sec = Math.floor(s % 60);
  const mm = h > 0 ? String(m).padStart(2, '0') : String(m);
  return (h > 0 ? `${h}:` : '') + `${mm}:${String(sec).padStart(2, '0')}`;
}

// One decimal, a true minus sign, and no "-0.0".
const fmtDb = (v) => (Number.isFinite(v) ? (Math.abs(v) < 0.05 ? 0 : v).toFixed(1).replace('-', '\u2212') : 'n/a');

// ---- reading the file ------------------------------------------------------------

// Rate, channels and length a FLAC stream declares in its first metadata
// block (the stream information), or null for anything else.
function flacInfo(buf) {
  const b = new Uint8Array(buf, 0, Math.min(buf.byteLength, 26));
  if (b.length < 26 || String.fromCharCode(b[0], b[1], b[2], b[3]) !== 'fLaC') return null;
  return {
    rate: (b[18] << 12) | (b[19] << 4) | (b[20] >> 4),
    channels: ((b[20] >> 1) & 7) + 1,
    frames: (b[21] & 15) * 2 ** 32 + ((b[22] << 24) >>> 0) + (b[23] << 16) + (b[24] << 8) + b[25], // 0: unknown
  };
}

// Channels and length of an Ogg Vorbis or Opus stream, from its first page
// (the identification header) and the granule position of its last page, or
// null for anything else: a long file is refused before decoding fills memory.
function oggInfo(buf) {
  const b = new Uint8Array(buf);
  const v = new DataView(buf);
  const isPage = (o) => b[o] === 0x4f && b[o + 1] === 0x67 && b[o + 2] === 0x67 && b[o + 3] === 0x53 && b[o + 4] === 0;
  if (b.length < 28 + 19 || !isPage(0)) return null;
  const serial = v.getUint32(14, true);
  const id = 27 + b[26]; // the first packet follows the segment table
  if (id + 19 > b.length) return null;
  const text = (o, n) => String.fromCharCode(...b.subarray(o, o + n));
  let channels;
  let rate; // of the granule positions
  let skip = 0; // leading samples the granule positions count
  if (b[id] === 1 && text(id + 1, 6) === 'vorbis') {
    channels = b[id + 11];
    rate = v.getUint32(id + 12, true);
  } else if (text(id, 8) === 'OpusHead') {
    channels = b[id + 9];
    rate = 48000; // Opus counts at 48 kHz whatever the input's rate
    skip = v.getUint16(id + 10, true);
  } else {
    return null;
  }
  const MAX_PAGE_BYTES = 65307;
  for (let o = b.length - 27; o >= Math.max(0, b.length - 2 * MAX_PAGE_BYTES); --o) {
    if (!isPage(o) || v.getUint32(o + 14, true) !== serial) continue;
    const lo = v.getUint32(o + 6, true);
    const hi = v.getUint32(o + 10, true);
    if (lo === 0xffffffff && hi === 0xffffffff) continue; // no packet ends on this page
    return rate > 0 ? { channels, seconds: Math.max(0, hi * 2 ** 32 + lo - skip) / rate } : null;
  }
  return null;
}

// Channels and length of an MPEG layer III (MP3) file, from its first frame:
// the frame count of a Xing, Info or VBRI header, else the file's size at the
// first frame's bit rate. Null for anything else.
function mp3Info(buf) {
  const b = new Uint8Array(buf);
  const v = new DataView(buf);
  let o = 0;
  if (b.length >= 10 && b[0] === 0x49 && b[1] === 0x44 && b[2] === 0x33) { // an ID3v2 tag first
    o = 10 + ((b[6] & 0x7f) << 21 | (b[7] & 0x7f) << 14 | (b[8] & 0x7f) << 7 | (b[9] & 0x7f)) + (b[5] & 0x10 ? 10 : 0);
  }
  if (o + 4 > b.length) return null;
  const h = v.getUint32(o);
  const version = (h >>> 19) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const rateIndex = (h >>> 10) & 3;
  const bitrateIndex = (h >>> 12) & 15;
  if ((h >>> 21) !== 0x7ff || version === 1 || ((h >>> 17) & 3) !== 1 || rateIndex === 3 ||
    bitrateIndex === 0 || bitrateIndex === 15) return null;
  const mpeg1 = version === 3;
  const rate = [44100, 48000, 32000][rateIndex] / (mpeg1 ? 1 : version === 2 ? 2 : 4);
  const kbits = (mpeg1 ? [32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    : [8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160])[bitrateIndex - 1];
  const channels = ((h >>> 6) & 3) === 3 ? 1 : 2;
  const samplesPerFrame = mpeg1 ? 1152 : 576;
  const tag = (at) => at + 12 <= b.length ? String.fromCharCode(b[at], b[at + 1], b[at + 2], b[at + 3]) : '';
  const xing = o + 4 + (mpeg1 ? (channels === 2 ? 32 : 17) : (channels === 2 ? 17 : 9));
  if ((tag(xing) === 'Xing' || tag(xing) === 'Info') && (v.getUint32(xing + 4) & 1)) {
    return { channels, seconds: v.getUint32(xing + 8) * samplesPerFrame / rate };
  }
  if (tag(o + 36) === 'VBRI' && o + 36 + 18 <= b.length) {
    return { channels, seconds: v.getUint32(o + 36 + 14) * samplesPerFrame / rate };
  }
  return { channels, seconds: (b.length - o) * 8 / (kbits * 1000) };
}

function tooLong(frames, rate, channels) {
  const seconds = frames / rate;
  if (seconds <= MAX_SECONDS && frames * channels <= MAX_SAMPLES) return '';
  const limit = Math.min(MAX_SECONDS, MAX_SAMPLES / channels / rate);
  return `The file is ${formatTime(seconds)} long; with ${channels} channel${channels > 1 ? 's' : ''} at ` +
    `${rate} Hz the page cleans up to ${formatTime(limit)}. Cut it shorter, or use vocrel-clean, which streams any length.`;
}

function tooManyChannels(channels, max) {
  return channels > max ? `The file has ${channels} channels; up to ${max} are supported.` : '';
}

async function openFile(file) {
  stopWorker();
  player?.stop();
  $('result').hidden = true;
  state.file = null;
  const job = ++state.job;
  if (file.size === 0) return fail(`"${file.name}" is empty.`);
  setState('working', `Reading "${file.name}"\u2026`);
  $('progress').removeAttribute('value'); // no measure of reading and decoding
  // A WAV file whose header is in its first part is read whole by the
  // worker; anything else is read here for the browser's decoder.
  let buf;
  let wav;
  try {
    buf = await file.slice(0, HEAD_BYTES).arrayBuffer();
    wav = wavHeader(buf, file.size);
    if (!(wav && !wav.problem) && file.size > buf.byteLength) {
      buf = await file.arrayBuffer();
      wav = wavHeader(buf);
    }
  } catch (err) {
    return fail(`"${file.name}" could not be read: ${err.message}`);
  }
  let maxChannels;
  try {
    ({ maxChannels } = await getEngineInfo());
  } catch (err) {
    if (job === state.job) fail(`The cleaner could not be started: ${err.message}`);
    return;
  }
  if (job !== state.job) return;
  const header = wav || flacInfo(buf);
  let rate = FALLBACK_RATE;
  let note = '';
  if (header) {
    // Refused before decoding: a file that is too long never fills memory.
    const refusal = tooManyChannels(header.channels, maxChannels) ||
      (header.rate > 0 && header.frames > 0 && tooLong(header.frames, header.rate, header.channels));
    if (refusal) return fail(refusal);
    if (wav?.damaged) return fail(`"${file.name}" is damaged: ${wav.problem}.`);
    if (wav && wav.frames === 0) return fail(`"${file.name}" holds no samples.`);
    rate = header.rate;
  } else {
    const coded = oggInfo(buf) || mp3Info(buf);
    const refusal = coded && (tooManyChannels(coded.channels, maxChannels) ||
      tooLong(Math.round(coded.seconds * FALLBACK_RATE), FALLBACK_RATE, coded.channels));
    if (refusal) return fail(refusal);
    if (file.size > MAX_COMPRESSED_BYTES) {
      return fail(`"${file.name}" is ${(file.size / 1e6).toFixed(0)} MB, too large to decode in the page; use vocrel-clean.`);
    }
    note = `The browser decoded the file at ${rate / 1000} kHz (its own rate is not read from this format).`;
  }
  if (rate < 3000 || rate > 768000) return fail(`"${file.name}" declares ${rate} Hz, which the browser cannot decode.`);

  const inWorker = wav && !wav.problem;
  setState('working', `${inWorker ? 'Reading' : 'Decoding'} "${file.name}"\u2026`);
  let audio;
  if (inWorker) {
    // WAV is read in the worker: the browser's decoder would hand a long
    // file's samples over on the page's thread, holding it for seconds.
    try {
      audio = await readWav(file, job);
    } catch (err) {
      if (job === state.job) fail(`"${file.name}" could not be read as WAV: ${err.message}`);
      return;
    }
    if (!audio) return;
  } else {
    try {
      // An offline context at the file's rate decodes without resampling.
      audio = await new OfflineAudioContext(1, 1, rate).decodeAudioData(buf);
    } catch (err) {
      if (job !== state.job) return;
      return fail(`The browser could not decode "${file.name}" as audio (${err.message || err.name}). ` +
        'Try a WAV, FLAC, Ogg or MP3 file.');
    }
  }
  if (job !== state.job) return;
  const refusal = tooManyChannels(audio.numberOfChannels, maxChannels) || tooLong(audio.length, audio.sampleRate, audio.numberOfChannels);
  if (refusal) return fail(refusal);
  if (audio.length === 0) return fail(`"${file.name}" holds no samples.`);
  state.file = { name: file.name, audio, wav, note };
  prepareAndClean();
}

// The samples of a WAV file, read by the worker (given the File, not its
// bytes), in an AudioBuffer filled in steps; null when the job was dropped.
async function readWav(file, job) {
  const { rate, channels } = await ask({ type: 'wav', file });
  if (job !== state.job) return null;
  const audio = new AudioBuffer({ length: channels[0].length, numberOfChannels: channels.length, sampleRate: rate });
  await fillChannels(audio, channels);
  return job === state.job ? audio : null;
}

// ---- cleaning --------------------------------------------------------------------

// The worker is stopped when a job is dropped while it works; the requests
// it leaves are refused, so that nothing waits for it.
function stopWorker() {
  if (busy()) dropWorker();
}

function dropWorker() {
  worker?.terminate();
  worker = null;
  for (const p of pending.values()) p.reject(new Error('stopped'));
  pending.clear();
}

function getWorker() {
  if (!worker) {
    worker = new Worker('worker.js');
    worker.onmessage = (e) => {
      const d = e.data;
      if (d.type === 'progress') {
        $('progress').value = d.done / d.total;
        return;
      }
      const p = pending.get(d.id);
      pending.delete(d.id);
      if (!p) return;
      if (d.type === 'error') p.reject(new Error(d.message));
      else p.resolve(d);
    };
    worker.onerror = (e) => {
      e.preventDefault();
      const wasBusy = busy();
      dropWorker();
      if (wasBusy) fail(`The cleaner stopped: ${e.message}`);
    };
  }
  return worker;
}

function ask(message, transfer = []) {
  return new Promise((resolve, reject) => {
    const id = nextRequest++;
    pending.set(id, { resolve, reject });
    getWorker().postMessage({ ...message, id }, transfer);
  });
}

// The cleaner's channel limit and default maximum reduction per mode, asked
// once (again after a failure).
function getEngineInfo() {
  engineInfo ??= ask({ type: 'info' }).catch((err) => {
    engineInfo = null;
    throw err;
  });
  return engineInfo;
}

// The file at the rate it is cleaned at: its own when the engine takes it,
// otherwise resampled by the browser.
async function atEngineRate(audio, engineRate) {
  if (audio.sampleRate === engineRate) return audio;
  const length = Math.ceil((audio.length * engineRate) / audio.sampleRate);
  const ctx = new OfflineAudioContext(audio.numberOfChannels, length, engineRate);
  ctx.destination.channelInterpretation = 'discrete';
  const src = ctx.createBufferSource();
  src.buffer = audio;
  src.channelInterpretation = 'discrete';
  src.connect(ctx.destination);
  src.start();
  return ctx.startRendering();
}

async function prepareAndClean() {
  player?.stop();
  const job = ++state.job;
  const { audio, name } = state.file;
  const settings = readSettings();
  const notes = state.file.note ? [state.file.note] : [];
  setState('working', `Cleaning "${name}"\u2026`);
  $('progress').value = 0;
  try {
    const { engineRate } = await ask({ type: 'rate', rate: audio.sampleRate, mode: settings.mode });
    if (job !== state.job) return;
    if (engineRate !== audio.sampleRate) {
      setState('working', `Resampling "${name}" from ${audio.sampleRate} Hz to ${engineRate} Hz\u2026`);
      notes.push(`Resampled by the browser from ${audio.sampleRate} Hz to ${engineRate} Hz before cleaning ` +
        `(mode ${settings.mode} runs at ${settings.mode === 1 ? '8 or 16' : '8, 16 or 48'} kHz); the cleaned file is at ${engineRate} Hz.`);
    }
    const input = await atEngineRate(audio, engineRate);
    if (job !== state.job) return;
    setState('working', `Cleaning "${name}"\u2026`);
    const channels = await copyChannels(input);
    if (job !== state.job) return;
    const started = performance.now();
    const result = await ask({ type: 'clean', channels, rate: engineRate, settings }, channels.map((c) => c.buffer));
    if (job !== state.job) return;
    result.seconds = (performance.now() - started) / 1000;
    const output = new AudioBuffer({ length: input.length, numberOfChannels: input.numberOfChannels, sampleRate: input.sampleRate });
    await fillChannels(output, result.planar);
    if (job !== state.job) return;
    showResult(input, output, result, settings, notes);
  } catch (err) {
    if (job === state.job) fail(`Cleaning "${name}" failed: ${err.message}`);
  }
}

// Long files are copied in steps, each a separate task, so that the page
// keeps answering while hundreds of megabytes move.
const STEP_SAMPLES = 1 << 20;
const nextTask = () => new Promise((resolve) => setTimeout(resolve, 0));

async function copyChannels(audio) {
  const channels = [];
  for (let c = 0; c < audio.numberOfChannels; ++c) {
    const ch = new Float32Array(audio.length);
    for (let o = 0; o < ch.length; o += STEP_SAMPLES) {
      audio.copyFromChannel(ch.subarray(o, o + STEP_SAMPLES), c, o);
      await nextTask();
    }
    channels.push(ch);
  }
  return channels;
}

async function fillChannels(buffer, planar) {
  for (let c = 0; c < planar.length; ++c) {
    for (let o = 0; o < buffer.length; o += STEP_SAMPLES) {
      buffer.copyToChannel(planar[c].subarray(o, o + STEP_SAMPLES), c, o);
      await nextTask();
    }
  }
}

// ---- the result --------------------------------------------------------------------

function showResult(input, output, r, settings, notes) {
  const rate = input.sampleRate;
  const nch = input.numberOfChannels;
  state.input = input;
  state.output = output;

  const name = state.file.name;
  const base = name.replace(/\.[^.]*$/, '') || 'audio';
  if (state.downloadUrl) URL.revokeObjectURL(state.downloadUrl);
  state.downloadUrl = URL.createObjectURL(r.wav);
  const link = $('download');
  link.href = state.downloadUrl;
  link.download = `${base}-cleaned.wav`;

  $('summary').textContent = `"${name}": ${formatTime(input.duration)}, ${nch} channel${nch > 1 ? 's' : ''}, ` +
    `${rate} Hz, ${describeSettings(settings)}. Cleaned in ${r.seconds.toFixed(1)} s ` +
    `(${(input.duration / Math.max(r.seconds, 1e-3)).toFixed(0)}\u00d7 real time).`;

  const f = r.figures;
  $('figures').textContent = f.pauseFrames > 0
    ? `Noise in the pauses (the quietest 15 % of 10 ms frames after the first half second, ${f.pauseFrames} frames): ` +
      `${fmtDb(f.noiseBeforeDb)} dBFS before, ${fmtDb(f.noiseAfterDb)} dBFS after, ` +
      `${fmtDb(f.noiseBeforeDb - f.noiseAfterDb)} dB less. Speech level (loudest 20 % of frames) changed by ${fmtDb(f.speechChangeDb)} dB.`
    : 'The file is too short to tell pauses from speech.';

  const details = [...notes];
  if (settings.autoThreshold && r.thresholds.length) {
    const shown = r.thresholds.slice(0, 6).map((t) => `${t.db} dB from ${t.seconds.toFixed(1)} s`);
    details.push(`Automatic level threshold: ${shown.join(', ')}${r.thresholds.length > 6 ? `, \u2026 (${r.thresholds.length} choices)` : ''}.`);
  }
  if (r.silenceHolds > 0) {
    details.push(`${r.silentFrames} frames of digital silence; the learnt noise was kept over ${r.silenceHolds} run${r.silenceHolds > 1 ? 's' : ''} of it.`);
  }
  if (r.clipped > 0) details.push(`${r.clipped} input samples beyond full scale were clipped.`);
  details.push(`The engine works on 10 ms frames; its delay of ${r.latencyMs.toFixed(0)} ms is taken out, so the output lines up with the input. ` +
    'The download is 16-bit WAV, the engine\u2019s own sample format.');
  $('details').textContent = details.join(' ');

  $('result').hidden = false;
  drawLevels($('levels'), r.levels, f);
  drawSpectrograms($('spec-in'), $('spec-out'), r.spectrograms);
  player = new ABPlayer(input, output);
  setState('done', `Done: "${name}" cleaned. Play it, switch between A and B, or download it.`);
}

// ---- figures ---------------------------------------------------------------------

const INPUT_COLOUR = '#d9822b';
const OUTPUT_COLOUR = '#2f5fcf';

// Levels of the input and the output over time, with the pause noise of each.
function drawLevels(canvas, levels, f) {
  const g = canvas.getContext('2d');
  const W = canvas.width, H = canvas.height, left = 42, bottom = 18;
  const top = 0, floor = -100;
  g.clearRect(0, 0, W, H);
  const y = (d) => ((top - Math.max(floor, Math.min(top, d))) / (top - floor)) * (H - bottom - 6) + 6;
  g.font = '11px system-ui, sans-serif';
  g.fillStyle = '#5d6677';
  g.strokeStyle = '#e3e6eb';
  for (let d = 0; d >= floor; d -= 20) {
    g.beginPath(); g.moveTo(left, y(d)); g.lineTo(W, y(d)); g.stroke();
    g.fillText(`${d} dB`, 2, y(d) + 4);
  }
  g.fillText('level per 10 ms frame over the file', left + 4, H - 4);
  const plot = (data, colour) => {
    g.strokeStyle = colour;
    g.beginPath();
    data.forEach((d, i) => {
      const x = left + ((W - left) * (i + 0.5)) / data.length;
      if (i === 0) g.moveTo(x, y(d)); else g.lineTo(x, y(d));
    });
    g.stroke();
  };
  plot(levels.input, INPUT_COLOUR);
  plot(levels.output, OUTPUT_COLOUR);
  g.fillStyle = INPUT_COLOUR;
  g.fillText('A: input', W - 130, 14);
  g.fillStyle = OUTPUT_COLOUR;
  g.fillText('B: cleaned', W - 70, 14);
  const mark = (d, colour, label) => {
    if (!Number.isFinite(d)) return;
    g.setLineDash([5, 4]);
    g.strokeStyle = colour;
    g.beginPath(); g.moveTo(left, y(d)); g.lineTo(W, y(d)); g.stroke();
    g.setLineDash([]);
    g.fillStyle = colour;
    g.fillText(label, W - 190, y(d) - 3);
  };
  mark(f.noiseBeforeDb, INPUT_COLOUR, `A: pause noise ${fmtDb(f.noiseBeforeDb)} dBFS`);
  mark(f.noiseAfterDb, OUTPUT_COLOUR, `B: pause noise ${fmtDb(f.noiseAfterDb)} dBFS`);
}

function colour(t) {
  // dark blue -> purple -> orange -> pale yellow, t in 0..1
  const stops = [[16, 19, 40], [90, 30, 130], [200, 60, 80], [250, 150, 40], [252, 250, 190]];
  const x = Math.max(0, Math.min(1, t)) * (stops.length - 1);
  const i = Math.min(stops.length - 2, Math.floor(x));
  const u = x - i;
  return stops[i].map((a, k) => Math.round(a + (stops[i + 1][k] - a) * u));
}

// colour() at COLOUR_STEPS even steps of 0..1, as RGBA bytes: each pixel of
// a spectrogram is one look-up, so that drawing stays a few milliseconds.
const COLOUR_STEPS = 256;
const COLOUR_TABLE = new Uint8ClampedArray(COLOUR_STEPS * 4);
for (let i = 0; i < COLOUR_STEPS; ++i) COLOUR_TABLE.set([...colour(i / (COLOUR_STEPS - 1)), 255], 4 * i);

function drawSpectrograms(cIn, cOut, spectra) {
  let peak = -Infinity;
  for (const s of [spectra.input, spectra.output]) {
    for (let i = 0; i < s.data.length; ++i) if (s.data[i] > peak) peak = s.data[i];
  }
  for (const [canvas, s, label] of [[cIn, spectra.input, 'A: input'], [cOut, spectra.output, 'B: cleaned']]) {
    const g = canvas.getContext('2d');
    const W = canvas.width, H = canvas.height;
    const img = g.createImageData(W, H);
    for (let x = 0; x < W; ++x) {
      const col = Math.min(s.cols - 1, Math.floor((x * s.cols) / W));
      for (let yy = 0; yy < H; ++yy) {
        const bin = Math.min(s.bins - 1, Math.floor(((H - 1 - yy) * s.bins) / H));
        const t = Math.max(0, Math.min(1, 1 - (peak - s.data[col * s.bins + bin]) / SPEC_RANGE_DB));
        const k = 4 * Math.round(t * (COLOUR_STEPS - 1));
        const o = (yy * W + x) * 4;
        for (let j = 0; j < 4; ++j) img.data[o + j] = COLOUR_TABLE[k + j];
      }
    }
    g.putImageData(img, 0, 0);
    g.font = '12px system-ui, sans-serif';
    g.fillStyle = '#fff';
    g.fillText(`${label}, 0 to ${s.rate / 2000} kHz`, 6, 15);
  }
}

// ---- A/B player ------------------------------------------------------------------

// Plays the input (A) or the output (B) from the same position; switching
// while playing continues the other one where the first one was.
class ABPlayer {
  constructor(a, b) {
    this.buffers = { a, b };
    this.which = 'b';
    this.offset = 0; // seconds into the file when paused, or when playing started
    this.startedAt = 0; // context time when playing started
    this.source = null;
    this.ctx = null;
    this.frame = 0;
    $('play').onclick = () => (this.source ? this.pause() : this.play());
    $('ab').onclick = () => this.toggle();
    $('position').max = String(a.duration);
    $('position').oninput = () => this.seek(Number($('position').value));
    this.render();
  }

  position() {
    if (!this.source) return this.offset;
    return Math.min(this.buffers.a.duration, this.offset + this.ctx.currentTime - this.startedAt);
  }

  play() {
    this.ctx ??= new AudioContext();
    this.ctx.resume();
    if (this.offset >= this.buffers.a.duration) this.offset = 0;
    const src = this.ctx.createBufferSource();
    src.buffer = this.buffers[this.which];
    src.connect(this.ctx.destination);
    src.onended = () => {
      if (this.source !== src) return;
      this.offset = this.position();
      this.source = null;
      this.render();
    };
    src.start(0, this.offset);
    this.startedAt = this.ctx.currentTime;
    this.source = src;
    this.tick();
    this.render();
  }

  pause() {
    if (!this.source) return;
    this.offset = this.position();
    const src = this.source;
    this.source = null;
    src.stop();
    this.render();
  }

  stop() {
    this.pause();
    this.ctx?.close();
    this.ctx = null;
  }

  toggle() {
    const playing = !!this.source;
    this.pause();
    this.which = this.which === 'a' ? 'b' : 'a';
    if (playing) this.play();
    this.render();
  }

  seek(t) {
    const playing = !!this.source;
    this.pause();
    this.offset = t;
    if (playing) this.play();
    this.render();
  }

  tick() {
    cancelAnimationFrame(this.frame);
    const step = () => {
      if (!this.source) return;
      this.render();
      this.frame = requestAnimationFrame(step);
    };
    this.frame = requestAnimationFrame(step);
  }

  render() {
    const t = this.position();
    $('play').textContent = this.source ? 'Pause' : 'Play';
    const b = this.which === 'b';
    $('ab').textContent = b ? 'Hearing: cleaned (B)' : 'Hearing: input (A)';
    $('ab').setAttribute('aria-pressed', String(b));
    if (document.activeElement !== $('position')) $('position').value = String(t);
    $('time').textContent = `${formatTime(t)} / ${formatTime(this.buffers.a.duration)}`;
  }
}

// ---- drop and choose ---------------------------------------------------------------

function wireInput() {
  const drop = $('drop');
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    const files = e.dataTransfer?.files;
    if (!files || files.length === 0) return fail('Nothing was dropped that the page can read; drop an audio file.');
    if (files.length > 1) return fail('Drop one file at a time.');
    openFile(files[0]);
  });
  // A file dropped beside the drop zone is not opened as a page.
  window.addEventListener('dragover', (e) => e.preventDefault());
  window.addEventListener('drop', (e) => e.preventDefault());
  $('file').addEventListener('change', () => {
    const f = $('file').files[0];
    if (f) openFile(f);
    $('file').value = '';
  });
}

fillSettings();
wireInput();
