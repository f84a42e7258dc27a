"""Seeded test signals: speech-like bursts with known pauses, and noise."""

from __future__ import annotations

import numpy as np


def speech_like(rate: int, seconds: float, seed: int, lead_in: float = 0.8,
                level_dbfs: float = -20.0) -> tuple[np.ndarray, np.ndarray]:
    """Voiced-like syllables (a gliding harmonic series under a smooth envelope)
    separated by silent gaps. Returns the float signal and a per-sample mask
    that is True inside syllables. Nothing is placed in the first lead_in
    seconds."""
    rng = np.random.default_rng(seed)
    n = int(rate * seconds)
    x = np.zeros(n)
    active = np.zeros(n, bool)
    pos = int(rate * min(lead_in, 0.3 * seconds))
    while True:
        length = int(rate * rng.uniform(0.12, 0.30))
        if pos + length >= n - rate // 20:
            break
        t = np.arange(length) / rate
        f0 = rng.uniform(100, 220) * (1 + 0.15 * rng.uniform(-1, 1) * t / t[-1])
        phase = 2 * np.pi * np.cumsum(f0) / rate
        formant = rng.uniform(400, 1200)
        syl = np.zeros(length)
        for k in range(1, int(0.45 * rate / f0.max())):
            weight = 1.0 / k * (1.0 + 2.0 * np.exp(-((k * f0.mean() - formant) / 300.0) ** 2))
            syl += weight * np.sin(k * phase + rng.uniform(0, 2 * np.pi))
        syl *= np.sin(np.pi * np.arange(length) / length) ** 2
        x[pos:pos + length] = syl
        active[pos:pos + length] = True
        pos += length + int(rate * (rng.uniform(0.3, 0.6) if rng.random() < 0.35
                                    else rng.uniform(0.05, 0.15)))
    x *= 32768 * 10 ** (level_dbfs / 20) / np.sqrt(np.mean(x[active] ** 2))
    return x, active


def white_noise(rate: int, seconds: float, seed: int, level_dbfs: float) -> np.ndarray:
    rng = np.random.default_rng(seed)
    return rng.standard_normal(int(rate * seconds)) * 32768 * 10 ** (level_dbfs / 20)


def to_pcm(x: np.ndarray) -> np.ndarray:
    return np.clip(np.round(x), -32768, 32767).astype(np.int16)


def noisy_speech(rate: int, seconds: float, seed: int, noise_dbfs: float = -45.0,
                 channels: int = 1):
    """(noisy, clean, noise, active): int16 noisy and clean, float noise, bool mask.
    Stereo gives the second channel its own speech and noise."""
    cols = [speech_like(rate, seconds, seed + 17 * c) for c in range(channels)]
    speech = np.stack([c[0] for c in cols], axis=1)
    active = np.stack([c[1] for c in cols], axis=1).any(axis=1)
    noise = np.stack([white_noise(rate, seconds, seed + 1000 + c, noise_dbfs)
                      for c in range(channels)], axis=1)
    clean, noisy = to_pcm(speech), to_pcm(speech + noise)
    if channels == 1:
        clean, noisy, noise = clean[:, 0], noisy[:, 0], noise[:, 0]
    return noisy, clean, noise, active
