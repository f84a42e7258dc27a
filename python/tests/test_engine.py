"""The NumPy front end against the engine: alignment, streaming, tunables, refusals."""


import numpy as np
import pytest

import vocrel_rnr
from vocrel_rnr import Cleaner, VocrelError, clean
from vocrel_rnr import _capi
from signals import noisy_speech, to_pcm, white_noise

CONFIGS = [(8000, 0), (8000, 1), (16000, 0), (16000, 1), (48000, 0)]


@pytest.fixture(scope="module")
def sig16():
    return noisy_speech(16000, 1.23, seed=3, channels=2)[0]


def test_version_and_default_tunables_come_from_the_library():
    v = vocrel_rnr.version()
    assert "RNR" in v.ver_text and all(t and "\0" not in t for t in (v.tool_tag, v.build_time))
    assert vocrel_rnr.default_tunables("floor")["hp_filter"] == 0
    assert vocrel_rnr.default_tunables("environment")["hp_filter"] == 1
    for mode in (0, 1):
        assert Cleaner(16000, 1, mode).params == vocrel_rnr.default_tunables(mode)


@pytest.mark.parametrize("rate,mode", CONFIGS)
@pytest.mark.parametrize("channels", [1, 2])
def test_aligned_output_is_the_raw_stream_without_its_one_frame_delay(rate, mode, channels):
    F = rate // 100
    n = 137 * F + 13  # not a whole number of frames
    x = noisy_speech(rate, n / rate, seed=rate + mode, channels=channels)[0][:n]
    before = x.copy()
    aligned = clean(x, rate, mode)
    raw = clean(x, rate, mode, raw=True)
    assert aligned.shape == x.shape and aligned.dtype == np.int16
    assert raw.shape == ((138 * F,) + x.shape[1:])
    np.testing.assert_array_equal(aligned[: len(raw) - F], raw[F:])
    assert not np.array_equal(aligned, x)  # the engine did something
    np.testing.assert_array_equal(x, before)  # to a copy
    if channels == 2:  # two independent streams
        np.testing.assert_array_equal(aligned[:, 1], clean(x[:, 1], rate, mode))


@pytest.mark.parametrize("raw", [False, True])
@pytest.mark.parametrize("rate,mode,channels", [(8000, 1, 2), (16000, 0, 1), (48000, 0, 2),
                                                (44100, 0, 2), (22050, 1, 1)])  # converted
def test_streaming_in_random_blocks_equals_the_one_shot_call(rate, mode, channels, raw):
    x = noisy_speech(rate, 0.8, seed=11, channels=channels)[0]
    x = x[: len(x) - 7]
    want = clean(x, rate, mode, raw=raw)
    rng = np.random.default_rng(rate + channels)
    c = Cleaner(rate, channels, mode, raw=raw)
    F = c.frame_length
    native = c.engine_rate == rate
    assert c.latency == F == rate // 100 or not native
    parts, pos = [], 0
    while pos < len(x):
        step = int(rng.choice([0, 1, F - 1, F, F + 1, int(rng.integers(1, 4 * F))]))
        parts.append(c.process(x[pos:pos + step]))
        pos += step
        if native and not raw and pos >= F:
            assert F <= c.pending < 2 * F  # held back: the delay plus a partial frame
    parts.append(c.flush())
    np.testing.assert_array_equal(np.concatenate(parts), want)
    assert c.pending == 0 or raw
    with pytest.raises(RuntimeError, match="flushed"):
        c.process(x[:10])


def test_short_and_empty_inputs():
    for n in (0, 1, 159, 160, 161):
        x = np.arange(n, dtype=np.int16)
        assert clean(x, 16000).shape == (n,)
        assert clean(np.zeros((n, 2), np.int16), 16000).shape == (n, 2)
        assert len(clean(x, 16000, raw=True)) == -(-n // 160) * 160


def test_input_layouts_that_mean_the_same_audio(sig16):
    want = clean(sig16, 16000)
    np.testing.assert_array_equal(clean(sig16.astype(">i2"), 16000), want)  # big-endian
    np.testing.assert_array_equal(clean(np.asfortranarray(sig16), 16000), want)
    wide = np.zeros((len(sig16), 4), np.int16)
    wide[:, ::2] = sig16
    np.testing.assert_array_equal(clean(wide[:, ::2], 16000), want)  # strided view
    np.testing.assert_array_equal(clean(sig16[:, :1], 16000)[:, 0], clean(sig16[:, 0], 16000))


def test_float_and_int32_input_come_back_in_their_own_type(sig16):
    x = sig16[:, 0]
    f = (x / 32768.0).astype(np.float32)
    y = clean(f, 16000)
    assert y.dtype == np.float32
    np.testing.assert_array_equal(y, (clean(x, 16000) / 32768.0).astype(np.float32))
    wide = clean(x.astype(np.int32) << 16, 16000)
    assert wide.dtype == np.int32
    np.testing.assert_array_equal(wide >> 16, clean(x, 16000))
    # out-of-range floats saturate instead of wrapping
    loud = clean(np.full(800, 3.0), 16000, raw=True)
    assert np.all(np.abs(loud) <= 1.0)


def test_set_params_before_the_first_block_and_between_blocks(sig16):
    change = dict(max_nr=6, hp_filter=1, level_thr=-40, level_adapt_off=0, vad_band_thr=60)
    c = Cleaner(16000, 2, 0)
    c.set_params(**change)
    assert {k: c.params[k] for k in change} == change
    got = np.concatenate([c.process(sig16), c.flush()])
    np.testing.assert_array_equal(got, clean(sig16, 16000, 0, **change))
    # between blocks: the output so far stays, the rest changes
    x, half = sig16[:, 0], 50 * 160
    base, c = Cleaner(16000, 1, 1), Cleaner(16000, 1, 1)
    np.testing.assert_array_equal(base.process(x[:half]), c.process(x[:half]))
    c.set_params(max_nr=15)  # the value in force: nothing changes
    c.set_params(max_nr=4)
    assert c.params["max_nr"] == 4
    assert not np.array_equal(np.concatenate([c.process(x[half:]), c.flush()]),
                              np.concatenate([base.process(x[half:]), base.flush()]))


def _stream_with(interruption, x, rate=16000, mode=0):
    """Output of a stream that meets `interruption` halfway and carries on."""
    c = Cleaner(rate, 1, mode)
    first = c.process(x[: len(x) // 2])
    interruption(c)
    return np.concatenate([first, c.process(x[len(x) // 2:]), c.flush()])


BAD_STREAM_CALLS = [
    (lambda c: c.process(np.zeros(10, np.uint8)), TypeError, "uint8"),
    (lambda c: c.process(np.zeros((10, 2), np.int16)), ValueError, "2 channel"),
    (lambda c: c.set_params(max_nr=21), VocrelError, "max_nr=21"),
    (lambda c: c.set_params(vad3=1), ValueError, "initialisation only"),
    (lambda c: c.set_params(rate=8000), TypeError, "unknown tunable"),
    (lambda c: c.set_params(max_nr=2**32 + 6), ValueError, "32-bit"),
    (lambda c: c.set_params(max_nr=6.0), TypeError, "integer"),
]


@pytest.mark.parametrize("call,exc,words", BAD_STREAM_CALLS)
def test_refused_stream_calls_change_nothing(sig16, call, exc, words):
    x = sig16[:, 0]
    want = _stream_with(lambda c: None, x)

    def interruption(c):
        with pytest.raises(exc, match=words):
            call(c)

    np.testing.assert_array_equal(_stream_with(interruption, x), want)


def test_engine_refusals_carry_code_constant_and_cause():
    x = np.zeros(480, np.int16)
    with pytest.raises(VocrelError) as e:
        clean(x, 16000, max_nr=30)
    assert (e.value.code, e.value.name) == (-15, "VOCREL_RNR_E_MAX_NR")
    assert "2..20 dB" in str(e.value) and e.value.call == "Vocrel_StreamCreate"
    with pytest.raises(ValueError, match="vad3 must be 0 or 1, not 5"):  # as vocrel-clean says
        clean(x, 16000, mode=1, vad3=5)
    with pytest.raises(ValueError, match="1 to 8 channels"):
        Cleaner(16000, channels=9)
    with pytest.raises(ValueError, match="1000..768000 Hz"):
        Cleaner(999)


BAD_CALLS = [  # (audio, keyword arguments, exception, words)
    (np.zeros(100, np.int64), {}, TypeError, "int64"),
    (np.zeros(100, np.uint16), {}, TypeError, "uint16"),
    (np.zeros((100, 9), np.int16), {}, ValueError, "9 channels"),
    (np.zeros((2, 100), np.int16), {}, ValueError, r"audio\.T"),
    (np.zeros((100, 0), np.int16), {}, ValueError, "no channels"),
    (np.zeros((10, 2, 2), np.int16), {}, ValueError, "shape"),
    (np.int16(5), {}, TypeError, "NumPy array"),
    ([1, 2, 3], {}, TypeError, "NumPy array"),
    (None, dict(rate=800), ValueError, "800 Hz"),
    (None, dict(rate="16000"), TypeError, "integer"),
    (None, dict(mode="loud"), ValueError, "floor"),
    (None, dict(colour=1), TypeError, "unknown tunable.*colour"),
    (None, dict(max_nr=-(2**31) - 1), ValueError, "32-bit"),
]


@pytest.mark.parametrize("audio,kwargs,exc,words", BAD_CALLS)
def test_bad_calls_are_refused_before_the_engine_runs(audio, kwargs, exc, words, monkeypatch):
    def no_engine(*a, **k):
        raise AssertionError("the engine was reached")

    if audio is not None:  # a bad array never reaches the engine
        monkeypatch.setattr(vocrel_rnr.engine, "Cleaner", no_engine)
    with pytest.raises(exc, match=words):
        clean(np.zeros(10, np.int16) if audio is None else audio, **{"rate": 16000, **kwargs})


def test_library_search_says_where_it_looked(monkeypatch, tmp_path):
    monkeypatch.setenv(_capi.LIB_ENV, str(tmp_path / "nowhere.so"))
    with pytest.raises(vocrel_rnr.LibraryNotFoundError, match="nowhere.so: no such file"):
        _capi.load_library()
    not_a_lib = tmp_path / "libc-like.so"
    not_a_lib.write_bytes(b"\x7fELF garbage")
    monkeypatch.setenv(_capi.LIB_ENV, str(not_a_lib))
    with pytest.raises(vocrel_rnr.LibraryNotFoundError, match="cannot load"):
        _capi.load_library()


def test_automatic_threshold_is_the_default_and_a_number_fixes_it():
    """Loud white noise at 48 kHz: the library's -55 dB threshold leaves it,
    the automatic one (the default) removes it; a number turns it off."""
    x = to_pcm(white_noise(48000, 4.0, seed=5, level_dbfs=-30.0))
    tail = slice(48000, None)

    def att(y):
        return 10 * np.log10(np.sum(x[tail].astype(float) ** 2) / np.sum(y[tail].astype(float) ** 2))

    assert att(clean(x, 48000)) > 12
    assert att(clean(x, 48000, level_thr="auto")) > 12
    assert att(clean(x, 48000, level_thr=-55)) < 1
    c = Cleaner(48000)
    c.process(x[:48000])
    assert c.threshold_changes and -40 <= c.threshold_changes[-1][1] <= -25
    assert c.params["level_thr"] == c.threshold_changes[-1][1]
    c.set_params(level_thr=-55)
    c.process(x[48000:96000])
    assert c.params["level_thr"] == -55
    with pytest.raises(ValueError, match="auto"):
        c.set_params(level_thr="auto")


def test_nan_inf_and_digital_silence_leave_the_learnt_noise_alone():
    # 0.1 s of NaN then 0.1 s of infinities inside white noise at 48 kHz: no
    # exception, nothing but finite samples out, and after the gap as much
    # noise removed, at the same threshold, as without it.
    rate, gap = 48000, slice(3 * 48000, 3 * 48000 + 9600)
    x = (np.random.default_rng(5).standard_normal(6 * rate) * 0.02).astype(np.float32)
    bad = x.copy()
    bad[gap] = np.nan
    bad[gap.start + 4800:gap.stop] = np.inf
    plain_thr, bad_thr = [], []
    plain = vocrel_rnr.clean(x, rate, convert=True, threshold_changes=plain_thr)
    out = vocrel_rnr.clean(bad, rate, convert=True, threshold_changes=bad_thr)
    assert np.all(np.isfinite(out))

    def removed(y, a, b):
        return 10 * np.log10(np.mean(x[a:b] ** 2) / np.mean(y[a:b].astype(float) ** 2))

    after = (gap.stop + rate // 2, 6 * rate - 4800)
    assert removed(out, *after) > removed(plain, *after) - 1.0
    assert bad_thr[-1][1] == plain_thr[-1][1]
    eng = vocrel_rnr.Cleaner(rate)
    eng.process(np.where(np.isfinite(bad), bad * 32768, 0).astype(np.int16))
    assert eng.silent_frames == 20
