// RIFF WAVE files read in JS, so that the worker, not the page's thread,
// turns a long WAV into samples: the header's facts (for the page's checks
// before anything is decoded) and the samples of integer PCM (8, 16, 24 or
// 32 bits) and 32-bit float, plain or WAVE_FORMAT_EXTENSIBLE, as the very
// floats Chromium's decodeAudioData gives: 8- and 16-bit integers over 128 or
// 32768 when negative and times the float nearest 1/127 or 1/32767 when
// positive (so that the largest is 1; unsigned 8-bit centred on 128 first),
// 24- and 32-bit integers over 2^23 and 2^31, floats as they are. Loaded
// with importScripts (the worker), <script> (the page) or require (Node).
'use strict';

const WAV_PCM = 1;
const WAV_FLOAT = 3;
const WAV_EXTENSIBLE = 0xfffe;
// The decoder's scale of positive 8- and 16-bit samples, a float; the product
// with an integer sample is exact in a double and rounds to float once when
// stored, as the decoder's float multiplication does.
const WAV_POSITIVE_SCALE_8 = Math.fround(1 / 127);
const WAV_POSITIVE_SCALE_16 = Math.fround(1 / 32767);

// Facts from a RIFF WAVE header, or null for anything else: format (1 integer
// PCM, 3 float; an extensible file's sub-format), channels, rate, blockAlign,
// bits, where the data chunk starts and the bytes it declares, the sample
// frames it declares (0 without a data chunk) and the whole frames the file
// holds. 'problem' says why the samples cannot be read here ('' when they
// can); 'damaged' that the browser's decoder would do no better. buf may be
// the first part of a file of fileBytes bytes: a data chunk beyond it is
// not seen ('no data chunk').
function wavHeader(buf, fileBytes = buf.byteLength) {
  const v = new DataView(buf);
  const tag = (o) => String.fromCharCode(v.getUint8(o), v.getUint8(o + 1), v.getUint8(o + 2), v.getUint8(o + 3));
  if (buf.byteLength < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return null;
  let info = null;
  for (let o = 12; o + 8 <= buf.byteLength;) {
    const id = tag(o);
    const size = v.getUint32(o + 4, true);
    if (id === 'fmt ' && size >= 16 && o + 24 <= buf.byteLength) {
      let format = v.getUint16(o + 8, true);
      if (format === WAV_EXTENSIBLE && size >= 40 && o + 34 <= buf.byteLength) format = v.getUint16(o + 32, true);
      info = {
        format,
        channels: v.getUint16(o + 10, true),
        rate: v.getUint32(o + 12, true),
        blockAlign: v.getUint16(o + 20, true),
        bits: v.getUint16(o + 22, true),
        dataOffset: 0,
        dataBytes: 0,
        frames: 0,
        framesHeld: 0,
      };
    } else if (id === 'data' && info) {
      info.dataOffset = o + 8;
      info.dataBytes = size;
      if (info.blockAlign > 0) {
        info.frames = Math.floor(size / info.blockAlign);
        info.framesHeld = Math.floor(Math.min(size, fileBytes - o - 8) / info.blockAlign);
      }
      break;
    }
    o += 8 + size + (size & 1);
  }
  if (!info) return null; // no format chunk: the browser's decoder may still know it
  info.problem = '';
  info.damaged = false;
  const damaged = (text) => { info.problem = text; info.damaged = true; };
  const readable = (info.format === WAV_PCM && [8, 16, 24, 32].includes(info.bits)) ||
    (info.format === WAV_FLOAT && info.bits === 32);
  if (!readable) {
    info.problem = `format ${info.format}, ${info.bits} bits`; // left to the browser's decoder
  } else if (info.channels === 0 || info.rate === 0) {
    damaged(`its header declares ${info.channels} channels at ${info.rate} Hz`);
  } else if (info.blockAlign !== (info.channels * info.bits) / 8) {
    damaged(`its header declares ${info.channels} channel${info.channels > 1 ? 's' : ''} of ${info.bits} bits ` +
      `but sample frames of ${info.blockAlign} bytes`);
  } else if (info.dataOffset === 0) {
    damaged('it has no data chunk');
  } else if (info.framesHeld < info.frames) {
    const s = (frames) => (frames / info.rate).toFixed(2);
    damaged(`it ends after ${s(info.framesHeld)} s, short of the ${s(info.frames)} s its header declares`);
  }
  return info;
}

// The samples of a readable file (wavHeader's problem ''), one Float32Array
// per channel.
function wavSamples(buf, h) {
  const { channels: nch, framesHeld: frames, dataOffset } = h;
  const planar = Array.from({ length: nch }, () => new Float32Array(frames));
  const bytes = new Uint8Array(buf, dataOffset, frames * h.blockAlign);
  const aligned = (n) => dataOffset % n === 0; // a typed view of the file, else of a copy
  if (h.format === WAV_FLOAT) {
    const x = aligned(4) ? new Float32Array(buf, dataOffset, frames * nch) : new Float32Array(bytes.slice().buffer);
    deinterleave(x, planar, (v) => v);
  } else if (h.bits === 16) {
    const x = aligned(2) ? new Int16Array(buf, dataOffset, frames * nch) : new Int16Array(bytes.slice().buffer);
    deinterleave(x, planar, (v) => (v < 0 ? v / 32768 : v * WAV_POSITIVE_SCALE_16));
  } else if (h.bits === 32) {
    const x = aligned(4) ? new Int32Array(buf, dataOffset, frames * nch) : new Int32Array(bytes.slice().buffer);
    deinterleave(x, planar, (v) => v / 2147483648); // exact in a double; the store rounds to float once
  } else if (h.bits === 24) {
    for (let c = 0; c < nch; ++c) {
      const ch = planar[c];
      for (let i = 0, o = 3 * c; i < frames; ++i, o += h.blockAlign) {
        const u = bytes[o] | (bytes[o + 1] << 8) | (bytes[o + 2] << 16);
        ch[i] = ((u << 8) >> 8) / 8388608; // sign from bit 23
      }
    }
  } else { // 8 bits, unsigned
    for (let c = 0; c < nch; ++c) {
      const ch = planar[c];
      for (let i = 0, o = c; i < frames; ++i, o += nch) {
        const d = bytes[o] - 128;
        ch[i] = d < 0 ? d / 128 : d * WAV_POSITIVE_SCALE_8;
      }
    }
  }
  return planar;
}

// Interleaved samples x to the planar channels, each through toFloat.
function deinterleave(x, planar, toFloat) {
  const nch = planar.length;
  for (let c = 0; c < nch; ++c) {
    const ch = planar[c];
    for (let i = 0, o = c; i < ch.length; ++i, o += nch) ch[i] = toFloat(x[o]);
  }
}

if (typeof module !== 'undefined') module.exports = { wavHeader, wavSamples };
