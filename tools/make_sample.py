#!/usr/bin/env python3
"""Makes samples/noisy_speech.wav: synthetic speech (espeak-ng) mixed with
seeded noise, 16 kHz mono 16-bit, about six seconds.

The noise is stationary and coloured (low-passed Gaussian noise plus a faint
mains hum with harmonics), starts 0.8 s before the speech so that a noise
estimator has something to learn, and sits about 25 dB below the speech:
a steady noise floor, what the default floor-noise mode is made for.
Needs only the Python standard library and the espeak-ng command.

usage: tools/make_sample.py [OUTPUT.wav]
"""
import math
import os
import random
import subprocess
import sys
import tempfile
import wave

TEXT = ("Noise reduction keeps the voice and removes the hiss, "
        "even in a busy room.")
RATE = 16000
SEED = 20240611
LEAD_IN_S = 0.8
TAIL_S = 0.5
SNR_DB = 25.0  # a noise floor, the kind the default floor-noise mode removes
SINC_HALF_TAPS = 16


def speak(text):
    """espeak-ng's speech as a list of floats in [-1, 1) and its rate."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "speech.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-s", "150", "-w", path, text], check=True)
        with wave.open(path, "rb") as w:
            assert w.getsampwidth() == 2 and w.getnchannels() == 1
            rate = w.getframerate()
            raw = w.readframes(w.getnframes())
    count = len(raw) // 2
    samples = [int.from_bytes(raw[2 * i:2 * i + 2], "little", signed=True) / 32768.0
               for i in range(count)]
    return samples, rate


def resample(x, rate_in, rate_out):
    """Windowed-sinc conversion (Hann window, cut-off at the lower Nyquist)."""
    ratio = rate_out / rate_in
    cutoff = min(1.0, ratio)
    n_out = int(len(x) * ratio)
    y = []
    for k in range(n_out):
        t = k / ratio
        centre = int(math.floor(t))
        acc = 0.0
        for j in range(centre - SINC_HALF_TAPS + 1, centre + SINC_HALF_TAPS + 1):
            if 0 <= j < len(x):
                d = t - j
                arg = math.pi * d * cutoff
                sinc = 1.0 if abs(arg) < 1e-12 else math.sin(arg) / arg
                win = 0.5 + 0.5 * math.cos(math.pi * d / SINC_HALF_TAPS)
                acc += x[j] * cutoff * sinc * win
        y.append(acc)
    return y


def noise(n, rng):
    """Low-passed Gaussian noise plus a 50 Hz hum with two harmonics."""
    out, lp = [], 0.0
    for i in range(n):
        lp = 0.85 * lp + 0.15 * rng.gauss(0.0, 1.0)
        t = i / RATE
        hum = sum(a * math.sin(2 * math.pi * f * t) for f, a in ((50, 0.3), (150, 0.2), (250, 0.1)))
        out.append(lp + 0.2 * hum)
    return out


def rms(x):
    return math.sqrt(sum(v * v for v in x) / max(1, len(x)))


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "samples", "noisy_speech.wav")
    speech, rate = speak(TEXT)
    speech = resample(speech, rate, RATE)
    # Trim espeak-ng's own leading and trailing silence.
    active = [i for i, v in enumerate(speech) if abs(v) > 0.01]
    speech = speech[active[0]:active[-1] + 1]
    speech = [0.0] * int(LEAD_IN_S * RATE) + speech + [0.0] * int(TAIL_S * RATE)

    rng = random.Random(SEED)
    n = noise(len(speech), rng)
    voiced = [v for v in speech if v != 0.0]
    gain = rms(voiced) / rms(n) / (10 ** (SNR_DB / 20))
    mix = [s + gain * v for s, v in zip(speech, n)]
    peak = max(abs(v) for v in mix)
    scale = 0.7 / peak  # leave headroom: peak at -3 dBFS
    pcm = bytearray()
    for v in mix:
        pcm += max(-32768, min(32767, round(v * scale * 32768))).to_bytes(2, "little", signed=True)

    os.makedirs(os.path.dirname(os.path.abspath(out_path)), exist_ok=True)
    with wave.open(out_path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(pcm))
    print(f"{out_path}: {len(mix) / RATE:.2f} s at {RATE} Hz, speech-to-noise {SNR_DB:.0f} dB")


if __name__ == "__main__":
    main()
