"""The module and the command-line tool give the same samples and the same words."""

import subprocess
import sys

import numpy as np
import pytest

from conftest import REPO
from vocrel_rnr import STATUS, clean, read_wav, write_wav
from vocrel_rnr._status import RANGES
from signals import noisy_speech

(NR_MIN, NR_MAX), (THR_MIN, THR_MAX), (VAD_MIN, VAD_MAX) = (
    RANGES[k] for k in ("MAX_NR", "LEVEL_THR", "VAD_BAND_THR"))

CONFIGS = [(8000, 0), (8000, 1), (16000, 0), (16000, 1), (48000, 0),
           (44100, 0), (22050, 1), (11025, 0), (48000, 1)]  # converted there and back
TUNED = [  # (rate, mode, tunables): every tunable away from its default somewhere
    (16000, 0, dict(max_nr=6, hp_filter=1, level_thr=-40, level_adapt_off=0, vad_band_thr=60)),
    (48000, 0, dict(max_nr=NR_MAX, level_thr=-70, level_adapt_off=0, vad_band_thr=VAD_MIN)),
    (8000, 0, dict(max_nr=NR_MIN, hp_filter=1, vad_band_thr=VAD_MAX)),
    (8000, 1, dict(max_nr=NR_MAX, hp_filter=0, vad3=1)),
    (16000, 1, dict(max_nr=9, vad3=1)),
]


def run_tool(tool, *args):
    return subprocess.run([tool, "-q", *map(str, args)], capture_output=True, timeout=60)


def tool_clean(tool, tmp_path, x, rate, mode, raw=False, **tunables):
    src, dst = tmp_path / "in.wav", tmp_path / "out.wav"
    write_wav(src, x, rate)
    opts = [f"--{k.replace('_', '-')}={v}" for k, v in tunables.items()]
    r = run_tool(tool, f"--mode={mode}", *opts, *(["--raw"] if raw else []), src, dst)
    assert r.returncode == 0, r.stderr.decode()
    y, rate_out = read_wav(dst)
    assert rate_out == rate
    return y


def signal(rate, channels, seed):
    x = noisy_speech(rate, 1.2, seed=seed, channels=channels)[0]
    return x[: len(x) - rate // 100 // 3]  # end inside a frame


@pytest.mark.parametrize("rate,mode,channels,raw,tunables", [
    *[(rate, mode, ch, raw, {}) for rate, mode in CONFIGS for ch, raw in ((1, False), (2, True))],
    *[(rate, mode, 2, False, tunables) for rate, mode, tunables in TUNED]])
def test_module_equals_tool(tool, tmp_path, rate, mode, channels, raw, tunables):
    x = signal(rate, channels, seed=rate + 10 * mode + channels)
    np.testing.assert_array_equal(clean(x, rate, mode, raw=raw, **tunables),
                                  tool_clean(tool, tmp_path, x, rate, mode, raw=raw, **tunables))


@pytest.mark.parametrize("rate,channels", [(44100, 1), (48000, 5)])
def test_module_equals_tool_on_float_samples_and_more_channels(tool, tmp_path, rate, channels):
    import soundfile

    x = (signal(rate, 1, seed=3)[:, None].repeat(channels, 1) / 32768.0).astype(np.float32)
    x[:, -1] *= 0.5  # the channels differ
    x[rate // 2:rate // 2 + 100] = np.nan  # a damaged stretch: silence to both
    src, dst = tmp_path / "in.wav", tmp_path / "out.wav"
    soundfile.write(src, x, rate, subtype="FLOAT")
    r = run_tool(tool, "--keep-going", src, dst)
    assert r.returncode == 0, r.stderr.decode()
    y, _ = soundfile.read(dst, dtype="float32", always_2d=True)
    out = clean(x, rate)
    assert out.dtype == np.float32
    np.testing.assert_array_equal(out.reshape(len(out), -1), y)


@pytest.mark.parametrize("subtype", ["PCM_24", "FLOAT"])
def test_write_audio_keeps_the_input_sample_format_as_the_tool_does(tool, tmp_path, subtype):
    import soundfile

    from vocrel_rnr import read_audio, write_audio

    x = signal(44100, 2, seed=5)
    src, dst, mine = tmp_path / "in.wav", tmp_path / "tool.wav", tmp_path / "mine.wav"
    soundfile.write(src, x / 32768.0, 44100, subtype=subtype)
    r = run_tool(tool, src, dst)
    assert r.returncode == 0, r.stderr.decode()
    audio, rate = read_audio(src)
    write_audio(mine, clean(audio, rate), rate, like=src)
    assert soundfile.info(mine).subtype == soundfile.info(dst).subtype == subtype
    np.testing.assert_array_equal(soundfile.read(mine, dtype="int32")[0],
                                  soundfile.read(dst, dtype="int32")[0])


def test_status_table_is_generated_from_the_tool_table():
    r = subprocess.run([sys.executable, str(REPO / "tools" / "gen_status_py.py"), "--check"],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr


@pytest.mark.parametrize("option,value,code", [
    ("max-nr", NR_MIN - 1, -15), ("max-nr", NR_MAX + 1, -15), ("hp-filter", 2, -16),
    ("level-thr", THR_MAX + 1, -19), ("level-adapt-off", 2, -20), ("vad-band-thr", VAD_MAX + 1, -21),
    ("mode", 2, -22),
])
def test_tool_and_module_name_a_refused_tunable_alike(tool, tmp_path, option, value, code):
    src = tmp_path / "in.wav"
    write_wav(src, np.zeros(1600, np.int16), 16000)
    r = run_tool(tool, f"--{option}={value}", src, tmp_path / "out.wav")
    assert r.returncode != 0
    said = r.stderr.decode()
    assert f"{STATUS[code][1]} (status {code}); check --{option}" in said
    # and the module raises the same words for the same value, naming its keyword
    key = option.replace("-", "_")
    with pytest.raises(Exception) as e:
        clean(np.zeros(1600, np.int16), 16000, **{key: value})
    assert STATUS[code][1] in str(e.value) and getattr(e.value, "code", None) == code
    assert f"{key}={value}" in str(e.value)
