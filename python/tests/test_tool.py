"""The module and the command-line tool give the same samples and the same words."""

import subprocess
import sys

import numpy as np
import pytest

from conftest import REPO
from vocrel_rnr import STATUS, clean, read_wav, write_wav
from signals import noisy_speech

CONFIGS = [(8000, 0), (8000, 1), (16000, 0), (16000, 1), (48000, 0)]
TUNED = [  # (rate, mode, tunables): every tunable away from its default somewhere
    (16000, 0, dict(max_nr=6, hp_filter=1, level_thr=-40, level_adapt_off=0, vad_band_thr=60)),
    (48000, 0, dict(max_nr=20, level_thr=-70, level_adapt_off=0, vad_band_thr=45)),
    (8000, 0, dict(max_nr=2, hp_filter=1, vad_band_thr=65)),
    (8000, 1, dict(max_nr=20, hp_filter=0, vad3=1)),
    (16000, 1, dict(max_nr=9, vad3=1)),
]


def run_tool(tool, *args, stdin=None):
    return subprocess.run([tool, "-q", *map(str, args)], input=stdin, capture_output=True,
                          timeout=60)


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


@pytest.mark.parametrize("raw", [False, True], ids=["aligned", "raw"])
@pytest.mark.parametrize("channels", [1, 2])
@pytest.mark.parametrize("rate,mode", CONFIGS)
def test_module_equals_tool_in_every_configuration(tool, tmp_path, rate, mode, channels, raw):
    x = signal(rate, channels, seed=rate + 10 * mode + channels)
    np.testing.assert_array_equal(clean(x, rate, mode, raw=raw),
                                  tool_clean(tool, tmp_path, x, rate, mode, raw=raw))


@pytest.mark.parametrize("rate,mode,tunables", TUNED)
def test_module_equals_tool_with_tunables(tool, tmp_path, rate, mode, tunables):
    x = signal(rate, 2, seed=5)
    want = tool_clean(tool, tmp_path, x, rate, mode, **tunables)
    np.testing.assert_array_equal(clean(x, rate, mode, **tunables), want)


def test_module_equals_tool_streaming_raw_pcm(tool):
    x = signal(16000, 2, seed=8)
    r = run_tool(tool, "--rate=16000", "--channels=2", "-", "-", stdin=x.astype("<i2").tobytes())
    assert r.returncode == 0, r.stderr.decode()
    y = np.frombuffer(r.stdout, "<i2").reshape(-1, 2)
    np.testing.assert_array_equal(clean(x, 16000), y)


def test_status_table_is_generated_from_the_tool_table():
    r = subprocess.run([sys.executable, str(REPO / "tools" / "gen_status_py.py"), "--check"],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr


@pytest.mark.parametrize("option,code", [
    ("--max-nr=1", -15), ("--max-nr=21", -15), ("--hp-filter=2", -16),
    ("--level-thr=-19", -19), ("--level-adapt-off=2", -20), ("--vad-band-thr=66", -21),
    ("--mode=2", -22),
])
def test_tool_and_module_name_a_refused_tunable_alike(tool, tmp_path, option, code):
    src = tmp_path / "in.wav"
    write_wav(src, np.zeros(1600, np.int16), 16000)
    r = run_tool(tool, option, src, tmp_path / "out.wav")
    assert r.returncode != 0
    said = r.stderr.decode()
    assert STATUS[code][1] in said and f"status {code}" in said
    # and the module raises the same words for the same value
    key, value = option[2:].split("=")
    key = key.replace("-", "_")
    with pytest.raises(Exception) as e:
        clean(np.zeros(1600, np.int16), 16000, **{key: int(value)})
    assert STATUS[code][1] in str(e.value) and getattr(e.value, "code", None) == code
