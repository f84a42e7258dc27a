"""The report on a generated noisy file whose noise level is known."""

import base64
import json
import re

import numpy as np
import pytest

pytest.importorskip("matplotlib", reason="python3-matplotlib is not installed")

from vocrel_rnr import clean, read_wav, report, write_wav  # noqa: E402
from signals import noisy_speech  # noqa: E402

RATE, SECONDS, NOISE_DBFS = 16000, 6.0, -42.0


@pytest.fixture(scope="module")
def case(tmp_path_factory):
    d = tmp_path_factory.mktemp("report")
    noisy, ref, noise, active = noisy_speech(RATE, SECONDS, seed=21, noise_dbfs=NOISE_DBFS)
    write_wav(d / "noisy.wav", noisy, RATE)
    write_wav(d / "ref.wav", ref, RATE)
    return d, noisy, ref, noise, active


def known_pauses(active, rate, margin_s=0.03, settle_s=0.5):
    """Samples at least margin_s away from any speech, after the settling time."""
    m = int(margin_s * rate)
    near = np.convolve(active.astype(float), np.ones(2 * m + 1), mode="same") > 0
    keep = ~near
    keep[: int(settle_s * rate)] = False
    return keep


def test_report_page_and_its_attenuation_figure(case):
    d, noisy, ref, noise, active = case
    html_path, json_path = d / "report.html", d / "figures.json"
    report.main([str(d / "noisy.wav"), "--clean", str(d / "ref.wav"), "--max-nr", "12",
                 "-o", str(html_path), "--json", str(json_path), "--dpi", "40"])
    page = html_path.read_text()
    figures = json.loads(json_path.read_text())

    # one self-contained page: three embedded PNG pictures, nothing fetched
    images = re.findall(r'<img [^>]*src="data:image/png;base64,([^"]+)"', page)
    assert len(images) == 3
    assert all(base64.b64decode(i)[:8] == b"\x89PNG\r\n\x1a\n" for i in images)
    assert not re.search(r'(src|href)="(?!data:)', page)
    assert json.loads(re.search(r'data-figures="([^"]*)"', page).group(1)
                      .replace("&quot;", '"')) == figures

    # independent figures from what the test put in: the noise it added, and the
    # engine's output over the pauses it left
    out = clean(noisy, RATE, max_nr=12).astype(np.float64)
    pauses = known_pauses(active, RATE)
    assert pauses.sum() > RATE  # over a second of pauses
    noise_db = 10 * np.log10(np.mean(noise[pauses] ** 2) / 32768.0**2)
    out_db = 10 * np.log10(np.mean(out[pauses] ** 2) / 32768.0**2)
    assert figures["noise_before_db"] == pytest.approx(noise_db, abs=0.5)
    assert figures["noise_reduction_db"] == pytest.approx(noise_db - out_db, abs=0.5)
    assert 3 < figures["noise_reduction_db"] <= 12.5  # the engine stays within max_nr
    assert abs(figures["speech_level_change_db"]) < 1.5
    assert figures["seg_snr_gain_db"] > 0
    assert figures["pause_source"] == "reference"


def test_report_figures_without_reference_and_from_a_cleaned_file(case, tmp_path):
    d, noisy, ref, noise, active = case
    cleaned = clean(noisy, RATE)
    with_ref = report.analyse(noisy, cleaned, RATE, ref)
    alone = report.analyse(noisy, cleaned, RATE)
    assert alone.pause_source == "quietest frames" and alone.seg_snr_gain_db is None
    # the quietest frames are pauses too, so the figures agree roughly
    assert alone.noise_reduction_db == pytest.approx(with_ref.noise_reduction_db, abs=2.0)
    assert alone.noise_before_db == pytest.approx(NOISE_DBFS, abs=2.0)

    write_wav(tmp_path / "cleaned.wav", cleaned, RATE)
    from_file = report.main([str(d / "noisy.wav"), "--processed", str(tmp_path / "cleaned.wav"),
                             "--clean", str(d / "ref.wav"), "-o", str(tmp_path / "r.html"),
                             "--dpi", "30"])
    assert from_file.table() == with_ref.table()


def test_report_refuses_mismatched_files(case, tmp_path):
    d, noisy, *_ = case
    write_wav(tmp_path / "ref8k.wav", noisy[::2], RATE // 2)
    with pytest.raises(SystemExit, match="8000 Hz"):
        report.main([str(d / "noisy.wav"), "--clean", str(tmp_path / "ref8k.wav"),
                     "-o", str(tmp_path / "r.html")])


def test_wav_round_trip(tmp_path):
    x = (np.arange(-300, 300, dtype=np.int16) * 97).reshape(-1, 2)
    write_wav(tmp_path / "s.wav", x, 48000)
    y, rate = read_wav(tmp_path / "s.wav")
    assert rate == 48000 and y.dtype == np.int16
    np.testing.assert_array_equal(y, x)
