"""16-bit PCM WAV files as int16 arrays, with the standard `wave` module."""

from __future__ import annotations

import wave

import numpy as np


def read_wav(path) -> tuple[np.ndarray, int]:
    """Returns (samples, rate): int16 of shape (n,) for mono, (n, channels) otherwise."""
    with wave.open(str(path), "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: {8 * w.getsampwidth()}-bit samples; expected 16-bit PCM")
        channels, rate = w.getnchannels(), w.getframerate()
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int16)
    return (data if channels == 1 else data.reshape(-1, channels)), rate


def write_wav(path, samples: np.ndarray, rate: int) -> None:
    """Writes int16 samples, (n,) or (n, channels), as 16-bit PCM."""
    if samples.dtype != np.int16:
        raise TypeError(f"samples are {samples.dtype}; expected int16")
    channels = 1 if samples.ndim == 1 else samples.shape[1]
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(int(rate))
        w.writeframes(np.ascontiguousarray(samples, dtype="<i2").tobytes())
