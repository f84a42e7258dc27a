"""NumPy front end of the engine: one-shot cleaning and a streaming object.

The engine takes 10 ms frames (80, 160 or 480 samples per channel at 8, 16 or
48 kHz) and returns each frame's output one frame late. `Cleaner` cuts blocks
of any length into frames and, unless asked for the raw stream, drops that
one-frame delay and flushes the tail, so that its output lines up with its
input sample for sample and has the same length.
"""

from __future__ import annotations

import ctypes
import operator
from dataclasses import dataclass

import numpy as np

from . import _capi
from .errors import check

RATES = (8000, 16000, 48000)
MAX_CHANNELS = 2

# mode names accepted besides the numbers 0 and 1
MODES = {"floor": 0, "flr": 0, "environment": 1, "env": 1}
MODE_NAMES = {0: "floor", 1: "environment"}

# keyword -> field of the tunables record
TUNABLES = {
    "max_nr": "maxNr",  # maximum noise reduction, dB, 2..20
    "hp_filter": "hpFilterOn",  # high-pass pre-filter at 8/16 kHz, 0 or 1
    "level_thr": "levelThrDb",  # mode 0 level threshold, dB, -80..-20
    "level_adapt_off": "levelAdaptOff",  # mode 0: 1 skips level adaptation
    "vad_band_thr": "vadBandThr",  # mode 0 stationary-band count, 45..65
    "vad3": "vad3On",  # mode 1: 1 enables the third detector; read at start only
}
# the keyword a status points at
STATUS_KEYWORD = {-15: "max_nr", -16: "hp_filter", -19: "level_thr", -20: "level_adapt_off",
                  -21: "vad_band_thr", -22: "mode", -24: "mode"}
# level_thr="auto" (the default in mode 0): the threshold follows the input's noise floor
AUTO = "auto"
# the tunables the engine accepts between frames
RUNTIME_TUNABLES = ("max_nr", "hp_filter", "level_thr", "level_adapt_off", "vad_band_thr")


@dataclass(frozen=True)
class Version:
    tool_tag: str
    ver_text: str
    build_time: str


def version() -> Version:
    """The engine's version record."""
    rec = ctypes.POINTER(_capi.VersionRec)()
    check(_capi.lib().Vocrel_RNR_GetVersion(ctypes.byref(rec)), "Vocrel_RNR_GetVersion")
    v = rec.contents
    return Version(*(f.decode("ascii", "replace") for f in (v.toolTag, v.verText, v.buildTime)))


def parse_mode(mode: int | str) -> int:
    """0 or "floor" (floor-noise path), 1 or "environment" (environment-noise path)."""
    if isinstance(mode, str):
        key = mode.strip().lower()
        if key in MODES:
            return MODES[key]
        if key in ("0", "1"):
            return int(key)
        raise ValueError(f"mode {mode!r}: expected 'floor' (0) or 'environment' (1)")
    try:
        value = operator.index(mode)
    except TypeError:
        raise TypeError(f"mode must be 0, 1, 'floor' or 'environment', not {mode!r}") from None
    # other integers go to the engine, which names the fault (status -22)
    return _int32("mode", value)


def _int32(name: str, value) -> int:
    """An integer that fits the record's signed 32-bit word, unchanged."""
    try:
        v = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {value!r}") from None
    if not -(2**31) <= v < 2**31:
        raise ValueError(f"{name}={v} does not fit a signed 32-bit word")
    return v


def _check_tunables(tunables: dict, allowed) -> dict:
    unknown = sorted(set(tunables) - set(allowed))
    if unknown:
        raise TypeError(
            f"unknown tunable(s) {', '.join(unknown)}; expected some of: {', '.join(allowed)}"
        )
    checked = {k: _int32(k, v) for k, v in tunables.items()}
    # The engine reads the third-detector switch as "exactly 1"; anything but
    # 0 or 1 is a mistake, refused as vocrel-clean refuses it.
    if checked.get("vad3", 0) not in (0, 1):
        raise ValueError(f"vad3 must be 0 or 1, not {checked['vad3']}")
    return checked


def default_tunables(mode: int | str = 0) -> dict:
    """The engine's default tunables for a mode (its exported default records)."""
    name = "g_Vocrel_RNR_Params_Env_8k_MONO" if parse_mode(mode) == 1 else (
        "g_Vocrel_RNR_Params_Flr_48k_MONO")
    rec = _capi.Params.in_dll(_capi.lib(), name)
    return {k: getattr(rec, f) for k, f in TUNABLES.items()}


def _make_params(rate: int, channels: int, mode: int, tunables: dict) -> _capi.Params:
    p = _capi.Params()
    for k, v in {**default_tunables(mode if mode in (0, 1) else 0), **tunables}.items():
        setattr(p, TUNABLES[k], v)
    p.sampleRate, p.channels, p.mode = rate, channels, mode
    return p


def _check_params_call(code: int, call: str, rec: _capi.Params) -> None:
    """check() that names the keyword and value behind a refused tunable."""
    key = STATUS_KEYWORD.get(code)
    detail = ""
    if key == "mode":
        detail = f"mode={rec.mode} at {rec.sampleRate} Hz"
    elif key:
        detail = f"{key}={getattr(rec, TUNABLES[key])}"
    check(code, call, detail)


def _check_rate(rate) -> int:
    try:
        r = operator.index(rate)
    except TypeError:
        raise TypeError(f"sample rate must be an integer, not {rate!r}") from None
    if r not in RATES:
        raise ValueError(f"sample rate {r} Hz: the engine runs at 8000, 16000 or 48000 Hz only")
    return r


def _as_pcm(audio, convert: bool, what: str = "audio") -> np.ndarray:
    """Checks an array and returns it as native int16 of shape (n, channels)."""
    if not isinstance(audio, np.ndarray):
        raise TypeError(f"{what} must be a NumPy array, not {type(audio).__name__}")
    if audio.ndim not in (1, 2):
        raise ValueError(f"{what} has shape {audio.shape}: expected (n,) or (n, channels)")
    if audio.ndim == 2:
        n, c = audio.shape
        if c == 0:
            raise ValueError(f"{what} has shape {audio.shape}: no channels")
        if c > MAX_CHANNELS:
            hint = " (channels go in the second axis: pass audio.T)" if n <= MAX_CHANNELS else ""
            raise ValueError(
                f"{what} has shape {audio.shape}: {c} channels, the engine takes 1 or 2{hint}"
            )
    dt = audio.dtype
    if dt.kind == "f":
        if not convert:
            raise TypeError(
                f"{what} is {dt}: the engine takes 16-bit PCM (int16); pass convert=True to "
                "scale floats in [-1, 1) to int16 and the result back"
            )
        # NaN and infinities carry no sound: they become digital silence, which
        # the frame feed keeps away from the engine's learnt noise.
        finite = np.where(np.isfinite(audio), audio, 0.0)
        pcm = np.clip(np.round(finite * 32768.0), -32768, 32767).astype(np.int16)
    elif dt.kind == "i" and dt.itemsize == 2:
        pcm = audio.astype(np.int16, copy=False)  # also turns big-endian into native
    else:
        raise TypeError(f"{what} is {dt}: the engine takes 16-bit PCM (int16)")
    return pcm.reshape(len(pcm), 1 if pcm.ndim == 1 else pcm.shape[1])


def _restore(out: np.ndarray, like: np.ndarray) -> np.ndarray:
    """Gives the output the input's layout: 1-D stays 1-D, floats come back as floats."""
    if like.ndim == 1:
        out = out[:, 0]
    if like.dtype.kind == "f":
        out = (out / 32768.0).astype(like.dtype)
    return out


class Cleaner:
    """A streaming noise-reduction instance.

    `process(block)` takes int16 blocks of any length, (n,) or (n, 1) for one
    channel and (n, 2) for two, and returns the output that is ready; `flush()`
    returns the rest. In the default aligned form the concatenated output
    equals the input in length and timing; with raw=True it is the engine's
    own stream: whole frames, one frame late, the last partial frame padded
    with zeros by `flush()`.
    """

    def __init__(self, rate: int, channels: int = 1, mode: int | str = "floor", *,
                 raw: bool = False, silence_hold: bool = True, **tunables):
        self.rate = _check_rate(rate)
        if channels not in (1, 2):
            raise ValueError(f"channels={channels!r}: the engine takes 1 or 2 channels")
        self.channels = int(channels)
        self.mode = parse_mode(mode)
        self.raw = bool(raw)
        auto = tunables.get("level_thr", AUTO) == AUTO and self.mode == 0
        if tunables.get("level_thr") == AUTO:
            del tunables["level_thr"]
        self._tunables = _check_tunables(tunables, TUNABLES)
        lib = _capi.lib()

        stream = _capi.StreamCfg(self.rate, self.channels, self.mode)
        info = _capi.MemInfo()
        self._params = _make_params(self.rate, self.channels, self.mode, self._tunables)
        _check_params_call(lib.Vocrel_RNR_GetSize(ctypes.byref(info), ctypes.byref(stream)),
                           "Vocrel_RNR_GetSize", self._params)
        self._mem = ctypes.create_string_buffer(info.memSize)
        handle = ctypes.c_void_p()
        _check_params_call(lib.Vocrel_RNR_Init(ctypes.byref(handle), self._mem, info.memSize,
                                               ctypes.byref(self._params)),
                           "Vocrel_RNR_Init", self._params)
        self._handle = handle
        self._auto = auto
        self.threshold_changes: list[tuple[int, int]] = []  # (frame, dB) chosen automatically
        # The frame feed around Apply: the automatic threshold (mode 0) and the
        # silence hold, which keeps the learnt noise over digital silence.
        self._feed = _capi.Feed()
        flags = (_capi.FEED_AUTO_THR if auto else 0) | (
            _capi.FEED_SILENCE_HOLD if silence_hold else 0)
        check(lib.Vocrel_RNR_FeedInit(ctypes.byref(self._feed), handle, flags),
              "Vocrel_RNR_FeedInit")
        self._spare = ctypes.create_string_buffer(_capi.FEED_SPARE_SIZE) if silence_hold else None
        self._feed_frame = lib.Vocrel_RNR_FeedFrame
        self._thr = ctypes.c_int32()
        self._frames = 0  # engine frames run so far
        self.frame_length = int(info.inFrameLen)
        self._io = _capi.FrameIo()
        self._io.frameLen = self.frame_length
        self._pending = np.zeros((0, self.channels), np.int16)
        self._fed = 0  # input samples per channel taken so far
        self._raw_out = 0  # engine output samples per channel produced so far
        self._returned = 0  # samples per channel handed back so far
        self._flushed = False

    # -- figures ---------------------------------------------------------------
    @property
    def latency(self) -> int:
        """The engine's delay in samples: one frame (10 ms). The aligned form
        removes it by holding output back; `pending` says how much is held."""
        return self.frame_length

    @property
    def silent_frames(self) -> int:
        """Frames taken as digital silence (at or below -90 dBFS) so far."""
        return int(self._feed.silentFrames)

    @property
    def pending(self) -> int:
        """Samples per channel taken in but not yet returned."""
        return self._fed - self._returned

    @property
    def params(self) -> dict:
        """The tunables in force, as the engine reports them."""
        rec = _capi.Params()
        check(_capi.lib().Vocrel_RNR_GetParams(self._handle, ctypes.byref(rec)),
              "Vocrel_RNR_GetParams")
        out = {k: getattr(rec, TUNABLES[k]) for k in RUNTIME_TUNABLES}
        out["vad3"] = self._params.vad3On  # read at start only; not kept by the engine
        return out

    # -- operations ------------------------------------------------------------
    def set_params(self, **tunables) -> None:
        """Changes tunables between blocks. Nothing is reset; the new values act
        from the next frame. A refused change leaves everything as it was."""
        if "vad3" in tunables:
            raise ValueError("vad3 is read at initialisation only; make a new Cleaner")
        if tunables.get("level_thr") == AUTO:
            raise ValueError('level_thr="auto" is chosen at start only; make a new Cleaner')
        values = _check_tunables(tunables, RUNTIME_TUNABLES)
        rec = _capi.Params()
        ctypes.memmove(ctypes.byref(rec), ctypes.byref(self._params), ctypes.sizeof(rec))
        if self._auto:  # a number fixes the threshold from here on
            rec.levelThrDb = self._feed.thrDb
        for k, v in values.items():
            setattr(rec, TUNABLES[k], v)
        _check_params_call(_capi.lib().Vocrel_RNR_SetParams(self._handle, ctypes.byref(rec)),
                           "Vocrel_RNR_SetParams", rec)
        self._params = rec
        if "level_thr" in values and self._auto:
            self._auto = False
            self._feed.flags &= ~_capi.FEED_AUTO_THR
            self._feed.thrDb = rec.levelThrDb

    def process(self, block: np.ndarray) -> np.ndarray:
        """Takes a block and returns the output that is ready."""
        x = self._take(block)
        buf = np.concatenate([self._pending, x]) if len(self._pending) else x
        whole = len(buf) - len(buf) % self.frame_length
        out = self._run(buf[:whole])
        self._pending = buf[whole:].copy()
        self._fed += len(x)
        return self._hand_out(out)

    def flush(self) -> np.ndarray:
        """Returns what is left. The stream ends here."""
        if self._flushed:
            raise RuntimeError("the stream was already flushed")
        self._flushed = True
        F, p = self.frame_length, len(self._pending)
        if self._fed == 0 or (self.raw and p == 0):
            return self._shape(np.zeros((0, self.channels), np.int16))
        # raw: the last partial frame; aligned: also the frame the engine still owes
        need = p if self.raw else p + F
        frames = -(-need // F)
        tail = np.zeros((frames * F, self.channels), np.int16)
        tail[:p] = self._pending
        self._pending = self._pending[:0]
        return self._hand_out(self._run(tail))

    # -- internals -------------------------------------------------------------
    def _take(self, block) -> np.ndarray:
        if self._flushed:
            raise RuntimeError("the stream was already flushed")
        x = _as_pcm(block, convert=False, what="block")
        if x.shape[1] != self.channels:
            raise ValueError(
                f"block has {x.shape[1]} channel(s), this stream has {self.channels}")
        return x

    def _run(self, x: np.ndarray) -> np.ndarray:
        """Runs whole frames through the engine: (k*F, c) in, (k*F, c) out."""
        F, n = self.frame_length, len(x)
        ins = [np.ascontiguousarray(x[:, c]) for c in range(self.channels)]
        outs = [np.empty(n, np.int16) for _ in range(self.channels)]
        in_addr = [a.ctypes.data for a in ins] + [None]
        out_addr = [a.ctypes.data for a in outs] + [None]
        io, ref, handle = self._io, ctypes.byref(self._io), self._handle
        feed, spare, thr = ctypes.byref(self._feed), self._spare, ctypes.byref(self._thr)
        for start in range(0, n, F):
            off = 2 * start  # bytes
            io.inCh0 = in_addr[0] + off
            io.outCh0 = out_addr[0] + off
            if self.channels == 2:
                io.inCh1 = in_addr[1] + off
                io.outCh1 = out_addr[1] + off
            code = self._feed_frame(feed, handle, spare, ref, thr)
            if code == 1:
                self.threshold_changes.append((self._frames, self._thr.value))
            elif code != 0:
                check(code, "Vocrel_RNR_FeedFrame")
            self._frames += 1
        self._raw_out += n
        return np.stack(outs, axis=1) if n else np.zeros((0, self.channels), np.int16)

    def _hand_out(self, out: np.ndarray) -> np.ndarray:
        if not self.raw:
            # out holds engine samples [raw_out - len(out), raw_out); the aligned
            # stream is engine samples [F, F + fed)
            first = self._raw_out - len(out)
            drop = max(0, self.frame_length - first)
            keep = max(0, self._fed - self._returned)
            out = out[drop:][:keep]
        self._returned += len(out)
        return self._shape(out)

    def _shape(self, out: np.ndarray) -> np.ndarray:
        return out[:, 0] if self.channels == 1 else out


def clean(audio: np.ndarray, rate: int, mode: int | str = "floor", *, raw: bool = False,
          convert: bool = False, threshold_changes: list | None = None,
          **tunables) -> np.ndarray:
    """Cleans a whole recording.

    audio: int16, (n,) mono or (n, 2) stereo (floats only with convert=True).
    rate: 8000, 16000 or 48000. mode: "floor" (0) or "environment" (1).
    tunables: max_nr, hp_filter, level_thr, level_adapt_off, vad_band_thr, vad3.
    level_thr is "auto" unless given (mode 0: the threshold follows the noise floor);
    silence_hold=False lets digital silence reach the engine's learnt noise (by
    default the engine resumes after a mute or dropout from the noise it knew);
    a list passed as threshold_changes receives its choices as (frame, dB).
    Returns the cleaned audio aligned with the input, same shape and dtype; with
    raw=True the engine's own stream (whole frames, one frame late).
    """
    pcm = _as_pcm(audio, convert)
    eng = Cleaner(rate, pcm.shape[1], mode, raw=raw, **tunables)
    out = np.concatenate([eng.process(pcm), eng.flush()]).reshape(-1, pcm.shape[1])
    if threshold_changes is not None:
        threshold_changes.extend(eng.threshold_changes)
    return _restore(out, audio)
