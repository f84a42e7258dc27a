// Opens the built page in headless Chromium, drops and chooses test files,
// and checks what the page gives: the cleaned WAV equal to vocrel-clean's
// samples (16-bit stereo WAV and FLAC and float mono at 48 kHz, 32-bit
// extensible stereo at 48 kHz and 24-bit stereo at 16 kHz dropped, 16-bit
// mono 8 kHz chosen), the WAV reader giving the browser decoder's samples,
// mode 1 through the browser's resampler, a clear message for each bad or
// damaged file, a long file that never blocks the page, and no console
// errors; the page's JS module alone in Node. Writes a screenshot of the page
// after cleaning.
//
// Usage: node page_test.mjs SITE_DIR VOCREL_CLEAN WORK_DIR CHROMIUM [SCREENSHOT]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(new URL('../package.json', import.meta.url));
const puppeteer = require('puppeteer-core');

const [site, vocrelClean, work, chromium, screenshot] = process.argv.slice(2);
const STEP_MS = 60000; // one file, from giving it to the page to its answer

// ---- test files ------------------------------------------------------------------

// Deterministic pseudo-random numbers in [-1, 1).
function noiseSource(seed) {
  let s = seed >>> 0;
  return () => {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    return s / 2147483648 - 1;
  };
}

// Speech-like test audio: voiced syllables (a gliding harmonic tone switched
// on and off) over steady noise with hum, different in each channel; 16-bit.
function speechInNoise(rate, channels, seconds) {
  const frames = Math.round(rate * seconds);
  const pcm = new Int16Array(frames * channels);
  for (let c = 0; c < channels; ++c) {
    const rnd = noiseSource(1234 + c);
    let lp = 0;
    for (let i = 0; i < frames; ++i) {
      const t = i / rate;
      const syllable = t % 0.6;
      const on = t > 0.8 && syllable < 0.35 ? Math.sin((Math.PI * syllable) / 0.35) : 0;
      const f0 = 120 + 30 * Math.sin(2 * Math.PI * 0.7 * t) + 15 * c;
      let voice = 0;
      for (let h = 1; h * f0 < rate / 2 && h <= 20; ++h) voice += Math.sin(2 * Math.PI * h * f0 * t) / h;
      lp = 0.7 * lp + 0.3 * rnd();
      const noise = 0.02 * lp + 0.004 * Math.sin(2 * Math.PI * 50 * t);
      pcm[i * channels + c] = Math.round(32767 * Math.max(-1, Math.min(1, 0.18 * on * voice + noise)));
    }
  }
  return pcm;
}

// A RIFF WAVE file: format 1 (integer) or 3 (float), plain or extensible,
// optionally with an odd-sized chunk before the data (which then starts off a
// 4-byte boundary) and a data chunk declaring other than it holds.
function riffWave(format, bits, channels, rate, data, { extensible = false, junk = 0, declared = data.length } = {}) {
  const fmt = Buffer.alloc(extensible ? 48 : 24);
  fmt.write('fmt ', 0);
  fmt.writeUInt32LE(fmt.length - 8, 4);
  fmt.writeUInt16LE(extensible ? 0xfffe : format, 8);
  fmt.writeUInt16LE(channels, 10);
  fmt.writeUInt32LE(rate, 12);
  fmt.writeUInt32LE((rate * channels * bits) / 8, 16);
  fmt.writeUInt16LE((channels * bits) / 8, 20);
  fmt.writeUInt16LE(bits, 22);
  if (extensible) {
    fmt.writeUInt16LE(22, 24);
    fmt.writeUInt16LE(bits, 26);
    fmt.writeUInt16LE(format, 32); // the sub-format GUID's first two bytes
    Buffer.from('000000001000800000aa00389b71', 'hex').copy(fmt, 34);
  }
  const pad = junk ? Buffer.alloc(8 + junk + (junk & 1)) : Buffer.alloc(0);
  if (junk) { pad.write('junk', 0); pad.writeUInt32LE(junk, 4); }
  const head = Buffer.alloc(8);
  head.write('data', 0);
  head.writeUInt32LE(Math.min(0xffffffff, declared), 4);
  const riff = Buffer.alloc(12);
  riff.write('RIFF', 0);
  riff.writeUInt32LE(Math.min(0xffffffff, 4 + fmt.length + pad.length + 8 + declared), 4);
  riff.write('WAVE', 8);
  return Buffer.concat([riff, fmt, pad, head, data]);
}

function wavBytes(pcm, rate, channels, declared = pcm.byteLength) {
  return riffWave(1, 16, channels, rate, Buffer.from(pcm.buffer, pcm.byteOffset, pcm.byteLength), { declared });
}

// 32-bit float WAV of 16-bit samples scaled to full scale 1, with a fraction
// added: halves (which round to even), small fractions, and a few samples
// beyond full scale, all of which the page must turn into the tool's 16-bit
// samples.
function floatWavBytes(pcm, rate, channels) {
  const x = new Float32Array(pcm.length);
  const fractions = [0.5, -0.5, 0.25, 0.75, 0.123, 0];
  for (let i = 0; i < pcm.length; ++i) x[i] = (pcm[i] + fractions[i % fractions.length]) / 32768;
  for (let i = 1000; i < 1010; ++i) x[i] = i % 2 ? 1.25 : -1.5;
  return riffWave(3, 32, channels, rate, Buffer.from(x.buffer));
}

// 24- or 32-bit WAV of 16-bit samples with the low bits set: halves (which
// round to even), quarters and other fractions of a 16-bit step.
function wideWavBytes(pcm, rate, channels, bits, options) {
  const low = [0x80, 0x40, 0xc0, 0x7f, 0x81, 0];
  const bytes = bits / 8;
  const data = Buffer.alloc(pcm.length * bytes);
  for (let i = 0; i < pcm.length; ++i) {
    const v = pcm[i] * 256 + (pcm[i] < 32767 ? low[i % low.length] : 0);
    data.writeIntLE(v, i * bytes + bytes - 3, 3);
  }
  return riffWave(1, bits, channels, rate, data, options);
}

function makeFiles() {
  const files = {};
  const put = (name, bytes) => {
    files[name] = path.join(work, name);
    fs.writeFileSync(files[name], bytes);
  };
  put('stereo48.wav', wavBytes(speechInNoise(48000, 2, 4), 48000, 2));
  put('mono8k.wav', wavBytes(speechInNoise(8000, 1, 3), 8000, 1));
  put('float48.wav', floatWavBytes(speechInNoise(48000, 1, 2), 48000, 1));
  put('int24-16k.wav', wideWavBytes(speechInNoise(16000, 2, 2), 16000, 2, 24));
  put('int32-ext48.wav', wideWavBytes(speechInNoise(48000, 2, 2), 48000, 2, 32, { extensible: true, junk: 3 }));
  put('nine-channels.wav', wavBytes(speechInNoise(48000, 9, 0.1), 48000, 9));
  put('empty.wav', Buffer.alloc(0));
  const rnd = noiseSource(99);
  put('not-audio.wav', Buffer.from(Array.from({ length: 4096 }, () => (rnd() + 1) * 128)));
  // A header declaring three hours of stereo 48 kHz, followed by one second.
  put('three-hours.wav', wavBytes(speechInNoise(48000, 2, 1), 48000, 2, 3 * 3600 * 48000 * 4));
  // Damaged: two seconds declared, one there; frames of 6 bytes declared for 16-bit stereo.
  put('cut-short.wav', wavBytes(speechInNoise(48000, 2, 1), 48000, 2, 2 * 48000 * 4));
  const lying = wavBytes(speechInNoise(48000, 2, 1), 48000, 2);
  lying.writeUInt16LE(6, 32);
  put('lying-header.wav', lying);
  // FLAC through sox when it is there: the stereo file, and the same stream
  // with its stream information claiming three hours.
  try {
    files['stereo48.flac'] = path.join(work, 'stereo48.flac');
    execFileSync('sox', [files['stereo48.wav'], files['stereo48.flac']], { stdio: 'ignore' });
    const flac = fs.readFileSync(files['stereo48.flac']);
    const frames = 3 * 3600 * 48000;
    flac[21] = (flac[21] & 0xf0) | Math.floor(frames / 2 ** 32);
    flac.writeUInt32BE(frames % 2 ** 32, 22);
    put('three-hours.flac', flac);
  } catch {
    delete files['stereo48.flac'];
    console.log('note: no sox; the FLAC cases are left out');
  }
  // Ogg Vorbis (sox again), its last page's granule position saying three hours.
  try {
    const short = path.join(work, 'stereo48.ogg');
    execFileSync('sox', [files['stereo48.wav'], short], { stdio: 'ignore' });
    const ogg = fs.readFileSync(short);
    const last = ogg.lastIndexOf('OggS');
    ogg.writeUInt32LE(3 * 3600 * 48000, last + 6);
    ogg.writeUInt32LE(0, last + 10);
    put('three-hours.ogg', ogg);
  } catch {
    console.log('note: no sox with Ogg Vorbis; the Ogg case is left out');
  }
  // MP3 (vocrel-clean writes it through libsndfile), its Info header's frame
  // count saying three hours.
  try {
    const short = path.join(work, 'stereo48.mp3');
    execFileSync(vocrelClean, ['-qf', files['stereo48.wav'], short], { stdio: 'ignore' });
    const mp3 = fs.readFileSync(short);
    const info = Math.min(...['Xing', 'Info'].map((t) => mp3.indexOf(t)).filter((i) => i >= 0));
    if (!Number.isFinite(info) || !(mp3.readUInt32BE(info + 4) & 1)) throw new Error('no frame count');
    mp3.writeUInt32BE((3 * 3600 * 48000) / 1152, info + 8);
    put('three-hours.mp3', mp3);
  } catch {
    console.log('note: no MP3 with a frame count from vocrel-clean; the MP3 case is left out');
  }
  return files;
}

// ---- local server ------------------------------------------------------------------

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
function serve(root) {
  const server = http.createServer((req, res) => {
    const rel = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = path.join(root, path.normalize(rel));
    if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- checks ------------------------------------------------------------------------

let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
}

// vocrel-clean's samples for a file (raw 16-bit output, defaults).
function toolSamples(file) {
  return execFileSync(vocrelClean, ['-q', file, '-'], { maxBuffer: 1 << 28, stdio: ['ignore', 'pipe', 'ignore'] });
}

// The data chunk of a WAV file.
function wavData(bytes) {
  for (let o = 12; o + 8 <= bytes.length;) {
    const id = bytes.toString('latin1', o, o + 4);
    const size = bytes.readUInt32LE(o + 4);
    if (id === 'data') return bytes.subarray(o + 8, o + 8 + size);
    o += 8 + size + (size & 1);
  }
  return Buffer.alloc(0);
}

async function waitForFile(file) {
  for (const end = Date.now() + STEP_MS; Date.now() < end;) {
    if (fs.existsSync(file)) return fs.readFileSync(file);
    await new Promise((r) => setTimeout(r, 100));
  }
  return null;
}

// Gives the page a file, through a drop event or the file chooser, and waits
// for its answer: 'done' or 'error' and the message shown.
async function give(page, file, how, timeout = STEP_MS) {
  await page.evaluate(() => { document.body.dataset.state = 'idle'; });
  if (how === 'choose') {
    const input = await page.$('#file');
    await input.uploadFile(file);
  } else {
    const bytes = fs.readFileSync(file).toString('base64');
    await page.evaluate((name, b64) => {
      const raw = atob(b64);
      const data = new Uint8Array(raw.length);
      for (let i = 0; i < raw.length; ++i) data[i] = raw.charCodeAt(i);
      const dt = new DataTransfer();
      dt.items.add(new File([data], name));
      const drop = document.getElementById('drop');
      drop.dispatchEvent(new DragEvent('dragover', { dataTransfer: dt, bubbles: true, cancelable: true }));
      drop.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, path.basename(file), bytes);
  }
  await page.waitForFunction(() => ['done', 'error'].includes(document.body.dataset.state), { timeout });
  return page.evaluate(() => ({ state: document.body.dataset.state, message: document.getElementById('message').textContent }));
}

async function checkCleaned(page, downloads, file, how, rate, channels) {
  const label = path.basename(file);
  const name = label.replace(/\.[^.]*$/, '');
  const answer = await give(page, file, how);
  check(answer.state === 'done', `${label} (${how}): cleaned: "${answer.message}"`);
  if (answer.state !== 'done') return;
  const saved = path.join(downloads, `${name}-cleaned.wav`);
  fs.rmSync(saved, { force: true }); // an earlier download of the same name is not taken for this one
  await page.click('#download');
  const got = await waitForFile(saved);
  check(got !== null, `${label}: the cleaned WAV was downloaded`);
  if (!got) return;
  const want = toolSamples(file);
  const samples = wavData(got);
  check(samples.length === want.length && samples.equals(want),
    `${label}: the download's ${samples.length / 2} samples equal vocrel-clean's ${want.length / 2}`);
  const head = got.subarray(0, 44);
  check(head.readUInt16LE(22) === channels && head.readUInt32LE(24) === rate &&
    head.readUInt16LE(34) === 16, `${label}: same channels and rate, 16-bit`);
}

// The page's WAV reader (wav.js, run in the worker) against the browser's
// decoder in the page: the same float samples, bit for bit, for each sample
// format, plain and extensible, 1 to 8 channels, the data off a 4-byte boundary.
async function checkWavReader(page) {
  const rnd = noiseSource(7);
  const variants = [];
  for (const [format, bits] of [[1, 8], [1, 16], [1, 24], [1, 32], [3, 32]]) {
    for (const [channels, options] of [[1, {}], [2, { extensible: true }], [8, { junk: 1 }]]) {
      const data = Buffer.alloc(((1000 * channels * bits) / 8));
      if (format === 3) for (let o = 0; o < data.length; o += 4) data.writeFloatLE(1.5 * rnd(), o);
      else for (let o = 0; o < data.length; ++o) data[o] = (rnd() + 1) * 128;
      if (bits === 16) [32767, -32768, 0, 1, -1].forEach((v, i) => data.writeInt16LE(v, 2 * i)); // extremes, zero
      variants.push([`${format === 3 ? 'float' : 'integer'} ${bits}-bit, ${channels} channel${channels > 1 ? 's' : ''}` +
        `${options.extensible ? ', extensible' : ''}${options.junk ? ', data off a 4-byte boundary' : ''}`,
      riffWave(format, bits, channels, 16000, data, options).toString('base64')]);
    }
  }
  const differing = await page.evaluate(async (list) => {
    const out = [];
    for (const [name, b64] of list) {
      const bytes = Uint8Array.from(atob(b64), (ch) => ch.charCodeAt(0));
      const h = wavHeader(bytes.buffer);
      const mine = wavSamples(bytes.buffer, h);
      const theirs = await new OfflineAudioContext(1, 1, h.rate).decodeAudioData(bytes.buffer.slice(0));
      let same = !h.problem && theirs.numberOfChannels === mine.length && theirs.length === mine[0].length;
      for (let c = 0; same && c < mine.length; ++c) {
        same = theirs.getChannelData(c).every((v, i) => Object.is(v, mine[c][i]));
      }
      if (!same) out.push(name);
    }
    return out;
  }, variants);
  check(differing.length === 0, `WAV read in the worker gives the browser decoder's samples in ${variants.length} formats` +
    `${differing.length ? '; not in: ' + differing.join('; ') : ''}`);
}

// A long stereo 48 kHz file (VOCREL_WEB_LONG_MINUTES, 10 unless set; 0 leaves
// it out): cleaned, with the page's thread never blocked for long while the
// file is read, cleaned and shown. Every step on the page's thread is a slice
// of fixed size (a million samples copied, a canvas drawn), whatever the
// file's length: the longest block seen was 0.2 s of a 25 s run, 0.3 s of
// 35 s on a machine loaded ten times over. On a loaded machine every step
// stretches, so a block is judged against the whole run too; the browser's
// decoder handing a ten-minute file over in one go (2 to 4 s, 5 % or more of
// the run) fails either bound.
const longMinutes = Number(process.env.VOCREL_WEB_LONG_MINUTES ?? 10);
const LONGEST_BLOCK_MS = 600;
const LONGEST_BLOCK_SHARE = 0.03;
async function checkLong(page, minutes) {
  const rate = 48000;
  const piece = speechInNoise(rate, 2, 4);
  const pcm = new Int16Array(minutes * 60 * rate * 2);
  for (let o = 0; o < pcm.length; o += piece.length) pcm.set(piece.subarray(0, Math.min(piece.length, pcm.length - o)), o);
  const file = path.join(work, 'long-stereo.wav');
  fs.writeFileSync(file, wavBytes(pcm, rate, 2));
  await page.evaluate(() => {
    window.longestBlockMs = 0;
    let last = performance.now();
    window.blockWatch = setInterval(() => {
      const now = performance.now();
      if (now - last > 100) console.log(`blocked for ${(now - last).toFixed(0)} ms at: ${document.getElementById('message').textContent}`);
      window.longestBlockMs = Math.max(window.longestBlockMs, now - last);
      last = now;
    }, 20);
  });
  const started = Date.now();
  const answer = await give(page, file, 'choose', minutes * 20 * 1000);
  const blocked = await page.evaluate(() => { clearInterval(window.blockWatch); return window.longestBlockMs; });
  const elapsedMs = Date.now() - started;
  check(answer.state === 'done', `${minutes}-minute stereo file cleaned in ${(elapsedMs / 1000).toFixed(0)} s`);
  const allowed = Math.max(LONGEST_BLOCK_MS, LONGEST_BLOCK_SHARE * elapsedMs);
  check(blocked < allowed, `the page's thread was never blocked for more than ${blocked.toFixed(0)} ms (allowed ${allowed.toFixed(0)})`);
  fs.rmSync(file);
}

// The JS module on its own, in Node: fed in uneven blocks, it gives
// vocrel-clean's samples, and says its latency.
async function checkModule(file) {
  const createVocrelModule = require(path.resolve(site, 'vocrel_web.js'));
  const { VocrelCleaner } = require(path.resolve(site, 'vocrel.js'));
  const M = await createVocrelModule();
  const pcm = wavData(fs.readFileSync(file));
  const input = new Float32Array(pcm.length / 2);
  for (let i = 0; i < input.length; ++i) input[i] = pcm.readInt16LE(2 * i) / 32768;
  const cleaner = new VocrelCleaner(M, 48000, 2);
  const parts = [];
  for (let at = 0, n = 1; at < input.length; at += 2 * n, n = ((n * 7 + 3) % 6000) + 1) {
    parts.push(cleaner.process(input.subarray(at, at + 2 * n)));
  }
  parts.push(cleaner.finish());
  const out = Buffer.from(VocrelCleaner.join(parts).buffer);
  check(out.equals(toolSamples(file)) && cleaner.latency === 480,
    `JS module in Node, uneven blocks: ${out.length / 2} samples equal vocrel-clean's, latency ${cleaner.latency}`);
  cleaner.destroy();
}

async function main() {
  fs.mkdirSync(work, { recursive: true });
  const downloads = path.join(work, 'downloads');
  fs.rmSync(downloads, { recursive: true, force: true });
  fs.mkdirSync(downloads);
  const files = makeFiles();
  await checkModule(files['stereo48.wav']);
  const server = await serve(path.resolve(site));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required', '--mute-audio'],
  });
  const errors = [];
  try {
    const page = await browser.newPage();
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); else console.log('page:', m.text()); });
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.setViewport({ width: 1280, height: 900 });
    const cdp = await browser.target().createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'load' });

    await checkWavReader(page);

    // Bad files first: each gives its message and the page stays usable.
    const refusals = [
      ['empty.wav', /is empty/],
      ['not-audio.wav', /could not decode/],
      ['nine-channels.wav', /9 channels; up to 8/],
      ['three-hours.wav', /3:00:00 long/],
      ['cut-short.wav', /is damaged: it ends after 1\.00 s, short of the 2\.00 s its header declares/],
      ['lying-header.wav', /is damaged: .*2 channels of 16 bits but sample frames of 6 bytes/],
    ];
    for (const name of ['three-hours.flac', 'three-hours.ogg', 'three-hours.mp3']) {
      if (files[name]) refusals.push([name, /3:00:00 long/]);
    }
    for (const [name, pattern] of refusals) {
      const answer = await give(page, files[name], 'drop');
      check(answer.state === 'error' && pattern.test(answer.message), `${name}: refused: "${answer.message}"`);
    }

    // The last one cleaned stays on the page for the player and mode checks.
    for (const [name, how, rate, channels] of [['mono8k.wav', 'choose', 8000, 1], ['float48.wav', 'drop', 48000, 1],
      ['int24-16k.wav', 'drop', 16000, 2], ['int32-ext48.wav', 'drop', 48000, 2], ['stereo48.flac', 'drop', 48000, 2],
      ['stereo48.wav', 'drop', 48000, 2]]) {
      if (files[name]) await checkCleaned(page, downloads, files[name], how, rate, channels);
    }

    // The A/B player: plays, switches to the input at the same place, pauses.
    await page.click('#play');
    await new Promise((r) => setTimeout(r, 400));
    await page.click('#ab');
    const ab = await page.evaluate(() => ({
      label: document.getElementById('ab').textContent,
      playing: document.getElementById('play').textContent === 'Pause',
    }));
    check(ab.label.includes('input (A)') && ab.playing, `A/B: "${ab.label}" while playing`);
    await page.click('#play');
    await page.click('#ab');

    // A file in another rate than the mode's goes through the browser's
    // resampler: mode 1 stops at 16 kHz.
    await page.select('#mode', '1');
    await page.evaluate(() => { document.body.dataset.state = 'idle'; });
    await page.click('#again');
    await page.waitForFunction(() => ['done', 'error'].includes(document.body.dataset.state), { timeout: STEP_MS });
    const resampled = await page.evaluate(() => ({
      state: document.body.dataset.state,
      summary: document.getElementById('summary').textContent,
      details: document.getElementById('details').textContent,
    }));
    check(resampled.state === 'done' && /16000 Hz, mode 1/.test(resampled.summary) &&
      /Resampled by the browser from 48000 Hz to 16000 Hz/.test(resampled.details),
    `mode 1 on 48 kHz: cleaned at 16 kHz and said so: "${resampled.summary}"`);
    await page.select('#mode', '0');
    await page.click('#again');
    await page.waitForFunction(() => document.body.dataset.state === 'done', { timeout: STEP_MS });

    const shot = path.join(work, 'web-page.png');
    await page.screenshot({ path: shot, fullPage: true });
    if (screenshot) fs.copyFileSync(shot, screenshot);
    console.log(`screenshot: ${screenshot || shot}`);

    if (longMinutes > 0) await checkLong(page, longMinutes);
  } finally {
    await browser.close();
    server.close();
  }
  check(errors.length === 0, `no console errors${errors.length ? ': ' + errors.join(' | ') : ''}`);
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
