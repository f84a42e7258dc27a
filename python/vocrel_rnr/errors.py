"""Engine status codes and the exception that carries them."""

from __future__ import annotations

# code -> (constant name in vocrel_rnr.h, cause in words); the texts are those
# the command-line tool prints (tools/status_text.c), so both say the same.
STATUS = {
    -1: ("VOCREL_RNR_E_NULL_HANDLE", "the handle (or the pointer that receives it) is null"),
    -2: ("VOCREL_RNR_E_NULL_MEM", "the instance memory block is null"),
    -3: ("VOCREL_RNR_E_MEM_SIZE", "the instance memory block is smaller than 28264 bytes"),
    -4: ("VOCREL_RNR_E_MAGIC", "the handle does not point at an initialised instance"),
    -5: (
        "VOCREL_RNR_E_CORRUPT",
        "the instance memory was overwritten (guard word or check value broken)",
    ),
    -6: ("VOCREL_RNR_E_NULL_VERSION", "the version output pointer is null"),
    -7: ("VOCREL_RNR_E_NULL_PARAMS", "the tunables record pointer is null"),
    -8: ("VOCREL_RNR_E_NULL_FRAME", "the frame descriptor is null"),
    -9: (
        "VOCREL_RNR_E_FRAME_LEN",
        "the frame length differs from the instance's (80, 160 or 480 samples)",
    ),
    -10: ("VOCREL_RNR_E_NULL_MEMINFO", "the size output record pointer is null"),
    -11: ("VOCREL_RNR_E_NULL_STREAM", "the stream record pointer is null"),
    -12: (
        "VOCREL_RNR_E_STREAM_CHANGED",
        "sample rate, channel count and mode cannot change after initialisation",
    ),
    -13: ("VOCREL_RNR_E_SAMPLE_RATE", "the sample rate must be 8000, 16000 or 48000 Hz"),
    -14: ("VOCREL_RNR_E_CHANNELS", "the channel count must be 1 or 2"),
    -15: ("VOCREL_RNR_E_MAX_NR", "the maximum noise reduction (maxNr) must be 2..20 dB"),
    -16: ("VOCREL_RNR_E_HP_FILTER", "the high-pass filter switch (hpFilterOn) must be 0 or 1"),
    -17: ("VOCREL_RNR_E_NULL_INPUT", "the input buffer of a used channel is null"),
    -18: ("VOCREL_RNR_E_NULL_OUTPUT", "the output buffer of a used channel is null"),
    -19: ("VOCREL_RNR_E_LEVEL_THR", "the level threshold (levelThrDb) must be -80..-20 dB"),
    -20: (
        "VOCREL_RNR_E_LEVEL_ADAPT",
        "the level-adaptation switch (levelAdaptOff) must be 0 or 1",
    ),
    -21: ("VOCREL_RNR_E_VAD_BAND_THR", "the VAD band threshold (vadBandThr) must be 45..65"),
    -22: ("VOCREL_RNR_E_MODE", "the mode must be 0 (floor noise) or 1 (environment noise)"),
    -23: ("VOCREL_RNR_E_FFT_INIT", "an FFT set-up failed during initialisation"),
    -24: ("VOCREL_RNR_E_MODE_RATE", "mode 1 (environment noise) supports 8000 and 16000 Hz only"),
}


def describe(code: int) -> str:
    """The cause of a status code in words."""
    entry = STATUS.get(code)
    return entry[1] if entry else f"unknown status {code}"


class VocrelError(RuntimeError):
    """An engine call returned a negative status.

    Attributes: code (the status), name (its constant), cause (in words), call
    (the C function that returned it) and detail (the offending value, or "").
    """

    def __init__(self, code: int, call: str, detail: str = ""):
        self.code = code
        self.call = call
        self.detail = detail
        self.name, self.cause = STATUS.get(code, ("?", describe(code)))
        got = f", got {detail}" if detail else ""
        super().__init__(f"{call}: {self.cause}{got} (status {code}, {self.name})")


def check(code: int, call: str, detail: str = "") -> None:
    if code != 0:
        raise VocrelError(code, call, detail)
