"""The report on a generated noisy file whose noise level is known, on what
the tool reads (other rates, 24-bit, stereo), and in a real browser."""

import base64
import io
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

pytest.importorskip("matplotlib", reason="python3-matplotlib is not installed")

from vocrel_rnr import clean, read_wav, report, write_wav  # noqa: E402
from signals import noisy_speech  # noqa: E402
from conftest import PYTHON_DIR as PYTHON  # noqa: E402

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

    # one self-contained page: four embedded PNG pictures, the A/B player's two
    # compressed sources holding the whole (short) file, nothing fetched
    images = re.findall(r'<img [^>]*src="data:image/png;base64,([^"]+)"', page)
    assert len(images) == 4
    sources = re.findall(r'<audio id="ab-(input|output)"[^>]*src="data:audio/ogg;base64,([^"]+)"',
                         page)
    assert [k for k, _ in sources] == ["input", "output"] and 'id="ab-switch"' in page
    assert all(base64.b64decode(b)[:4] == b"OggS" for _, b in sources)
    assert "holds the whole file" in page
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
    # the pause noise per band adds up to the broadband figure
    bands = re.findall(r"<tr><td>[^<]*Hz</td><td>(-?[\d.]+) dBFS</td><td>(-?[\d.]+) dBFS</td>",
                       page)
    assert len(bands) == 7  # 0..8 kHz in octaves from 125 Hz
    total = 10 * np.log10(sum(10 ** (float(b) / 10) for b, _ in bands))
    assert total == pytest.approx(figures["noise_before_db"], abs=1.0)


def test_report_without_reference_from_a_cleaned_file_and_refusing_another_rate(case, tmp_path):
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
    write_wav(tmp_path / "ref8k.wav", noisy[::2], RATE // 2)
    with pytest.raises(SystemExit, match="8000 Hz"):  # a reference at another rate
        report.main([str(d / "noisy.wav"), "--clean", str(tmp_path / "ref8k.wav"),
                     "-o", str(tmp_path / "r.html")])


def test_report_never_writes_over_its_inputs(case, tmp_path):
    """An output that is one of the inputs is refused before any work, also
    through a link; from the command line with the reason and status 1."""
    d = case[0]
    noisy = tmp_path / "rin.wav"
    shutil.copy(d / "noisy.wav", noisy)
    (tmp_path / "link.wav").symlink_to(noisy)
    before = noisy.read_bytes()
    for extra in (["-o", noisy], ["-o", tmp_path / "r.html", "--json", tmp_path / "link.wav"],
                  ["-o", tmp_path / "r.html", "--write-cleaned", noisy],
                  ["-o", d / "ref.wav", "--clean", d / "ref.wav"]):
        with pytest.raises(ValueError, match="is the input"):
            report.main([str(noisy), *map(str, extra)])
    r = subprocess.run([sys.executable, "-m", "vocrel_rnr.report", str(noisy), "-o", str(noisy)],
                       capture_output=True, text=True, env={**os.environ, "PYTHONPATH": str(PYTHON)})
    assert r.returncode == 1 and f"the output of -o {noisy} is the input" in r.stderr, r.stderr
    assert noisy.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link.wav", "rin.wav"]


def test_outputs_appear_whole_or_not_at_all(tmp_path):
    """A failed write keeps the old file, leaves no temporary and names the
    file; a replaced file keeps its permissions."""
    out = tmp_path / "out.wav"
    write_wav(out, np.arange(800, dtype=np.int16), 16000)
    out.chmod(0o640)
    before = out.read_bytes()
    with pytest.raises(Exception, match=re.escape(str(out))):
        write_wav(out, np.zeros(800, np.int16), 0)  # no such rate
    assert out.read_bytes() == before
    write_wav(out, np.zeros(800, np.int16), 8000)
    assert read_wav(out)[1] == 8000 and out.stat().st_mode & 0o777 == 0o640
    with pytest.raises(OSError, match=re.escape(str(tmp_path / "no" / "x.html"))):
        report.write_text(tmp_path / "no" / "x.html", "page")
    if os.path.exists("/dev/full"):  # a device is written directly, and named when it fails
        with pytest.raises(OSError, match="cannot write /dev/full: No space left"):
            report.write_text("/dev/full", "page" * 10000)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.wav"]


def test_a_long_file_gets_an_excerpt_and_a_page_that_does_not_grow(case, tmp_path):
    """Three minutes: the players hold the first minute unless --excerpt
    chooses, the pictures stay the size of a short file's, and an excerpt
    outside the file is refused before any work."""
    sf = pytest.importorskip("soundfile", reason="python3-soundfile is not installed")
    d, noisy, *_ = case
    long = np.tile(noisy, int(180 / SECONDS))
    write_wav(tmp_path / "long.wav", long, RATE)
    report.main([str(tmp_path / "long.wav"), "-o", str(tmp_path / "r.html"), "--dpi", "40",
                 "--save-figures", str(tmp_path / "f")])
    page = (tmp_path / "r.html").read_text()
    assert "holds 0:00.0 to 1:00.0 of 3:00.0" in page
    ogg = base64.b64decode(re.search(r'data:audio/ogg;base64,([^"]+)"', page).group(1))
    assert sf.info(io.BytesIO(ogg)).duration == pytest.approx(60.0, abs=0.1)
    assert len(page) < 2_000_000  # WAV players alone would take 2 x 2.6 MB
    short = report.main([str(d / "noisy.wav"), "-o", str(tmp_path / "s.html"), "--dpi", "40",
                         "--save-figures", str(tmp_path / "g")])
    for k in ("spectrograms", "waveforms", "reduction"):  # same pixels as the 6 s file's
        assert (tmp_path / "f" / f"{k}.png").read_bytes()[16:24] == \
            (tmp_path / "g" / f"{k}.png").read_bytes()[16:24]
    assert short.seconds == SECONDS

    report.main([str(tmp_path / "long.wav"), "-o", str(tmp_path / "r.html"), "--dpi", "40",
                 "--excerpt", "150:40"])
    assert "holds 2:30.0 to 3:00.0 of 3:00.0" in (tmp_path / "r.html").read_text()
    for bad in ("180:5", "10", "x:y", "5:0"):
        with pytest.raises(ValueError, match="--excerpt"):
            report.main([str(tmp_path / "long.wav"), "-o", str(tmp_path / "x.html"),
                         "--excerpt", bad])
    assert not (tmp_path / "x.html").exists()


def test_reading_in_blocks_gives_what_read_audio_gives(tmp_path):
    """Over several blocks, for 16-bit files read as they are and for the
    formats rounded to 16 bits."""
    sf = pytest.importorskip("soundfile", reason="python3-soundfile is not installed")
    x = np.random.default_rng(5).standard_normal((report.BLOCK_SAMPLES * 2 + 7, 2)) * 0.3
    x[:9] = [[-1.0, 1.0], [0.99999, -0.99999], [1.5, -1.5], [0.5 / 32768, -0.5 / 32768],
             [1.5 / 32768, -1.5 / 32768], [0, 0], [-0.25, 0.25], [2e-5, -2e-5], [-1, -1]]
    for subtype in ("PCM_16", "PCM_24", "FLOAT"):
        sf.write(tmp_path / "x.wav", x, 8000, subtype=subtype)
        got, rate = report.read_in_blocks(tmp_path / "x.wav")
        want, _ = read_wav(tmp_path / "x.wav")
        assert rate == 8000 and got.dtype == np.int16 and np.array_equal(got, want), subtype
    sf.write(tmp_path / "m.flac", x[:, 0], 8000)
    assert np.array_equal(report.read_in_blocks(tmp_path / "m.flac")[0],
                          read_wav(tmp_path / "m.flac")[0])


def test_report_reads_what_the_tool_reads(tmp_path):
    """A 24-bit stereo file at 44.1 kHz: read, cleaned through conversion, both
    channels drawn; the cleaned audio agrees with the tool's within the two
    converters' difference."""
    sf = pytest.importorskip("soundfile", reason="python3-soundfile is not installed")
    noisy = noisy_speech(44100, 3.0, seed=4, noise_dbfs=NOISE_DBFS, channels=2)[0]
    sf.write(tmp_path / "n.wav", noisy.astype(np.int32) << 16, 44100, subtype="PCM_24")
    figures = report.main([str(tmp_path / "n.wav"), "-o", str(tmp_path / "r.html"), "--dpi", "30",
                           "--write-cleaned", str(tmp_path / "c.flac"),
                           "--save-figures", str(tmp_path / "f")])
    assert figures.rate == 44100 and figures.noise_reduction_db > 3
    page = (tmp_path / "r.html").read_text()
    assert "48000 Hz (converted there and back)" in page
    cleaned, rate = read_wav(tmp_path / "c.flac")
    assert rate == 44100 and cleaned.shape == noisy.shape
    tool = os.environ.get("VOCREL_CLEAN")
    if tool:
        subprocess.run([tool, "-q", str(tmp_path / "n.wav"), str(tmp_path / "t.wav")], check=True)
        by_tool = read_wav(tmp_path / "t.wav")[0].astype(float)
        err = np.sqrt(np.mean((by_tool - cleaned) ** 2) / np.mean(by_tool ** 2))
        assert err < 0.1  # within 20 dB of each other
    spectrograms = (tmp_path / "f" / "spectrograms.png").read_bytes()
    assert b"IHDR" in spectrograms[:16]
    height = int.from_bytes(spectrograms[20:24], "big")
    assert height > 200  # four panels (2.5 inches each): input and output of both channels


# Collects what a user would see go wrong: script errors, console errors,
# images that do not decode, players whose source does not load.
BROWSER_CHECK = """<script>
window.__errors = [];
window.addEventListener("error", e => window.__errors.push(
  "error: " + (e.message || (e.target && e.target.tagName) || "?")), true);
window.addEventListener("unhandledrejection", e => window.__errors.push("rejection: " + e.reason));
for (const k of ["error", "warn"]) {
  const orig = console[k];
  console[k] = (...a) => { window.__errors.push(k + ": " + a.join(" ")); orig.apply(console, a); };
}
window.addEventListener("load", () => {
  const images = [...document.images].map(i => i.complete && i.naturalWidth > 0 ? "ok" : "broken");
  const players = [...document.querySelectorAll("audio")];
  let polls = 0;
  const report = () => {
    const audio = players.map(a => a.error ? "error " + a.error.code
      : a.readyState >= 1 && a.duration > 0 && isFinite(a.duration) ? "ok" : "pending");
    if (audio.includes("pending") && ++polls < 100) return setTimeout(report, 100);
    // the A/B switch: from the input at 1.5 s to the output at 1.5 s and back
    const button = document.getElementById("ab-switch"), ab = [];
    if (button && !audio.includes("pending")) {
      const shown = () => players.filter(a => !a.hidden).map(a => a.id).join();
      players[0].currentTime = 1.5;
      for (let k = 0; k < 2; k++) {
        button.click();
        ab.push(shown() + "@" + players[k === 0 ? 1 : 0].currentTime.toFixed(1));
      }
    }
    const out = document.createElement("pre");
    out.id = "browser-check";
    out.textContent = JSON.stringify({images, audio, ab, errors: window.__errors});
    document.body.appendChild(out);
  };
  players.forEach(a => a.load());
  report();
});
</script>"""
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]


def chromium():
    path = shutil.which("chromium") or shutil.which("chromium-browser")
    if not path:
        pytest.skip("chromium is not installed (Debian: apt install chromium; "
                    "tools/install-deps.sh installs it)")
    return path


def browser_check(page: Path, tmp_path: Path) -> dict:
    checked = tmp_path / "checked.html"
    checked.write_text(page.read_text().replace("<head>", "<head>" + BROWSER_CHECK, 1))
    # Virtual time can run out while a player still decodes in real time on a
    # busy machine: a player still pending (not failed) gets the page another try.
    for _ in range(3):
        r = subprocess.run([chromium(), *CHROMIUM_FLAGS, f"--user-data-dir={tmp_path / 'profile'}",
                            "--virtual-time-budget=20000", "--dump-dom", checked.as_uri()],
                           capture_output=True, text=True, timeout=120)
        found = re.search(r'<pre id="browser-check">(.*?)</pre>', r.stdout)
        assert found, f"the page did not finish loading: {r.stderr[-2000:]}"
        seen = json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&"))
        if "pending" not in seen["audio"]:
            break
    return seen


def test_report_in_a_browser(case, tmp_path):
    d, noisy, *_ = case
    write_wav(tmp_path / "stereo.wav", np.stack([noisy, noisy // 2], axis=1), RATE)
    report.main([str(tmp_path / "stereo.wav"), "-o", str(tmp_path / "r.html"), "--dpi", "40"])
    seen = browser_check(tmp_path / "r.html", tmp_path)
    assert seen == {"images": ["ok"] * 4, "audio": ["ok"] * 2, "errors": [],
                    "ab": ["ab-output@1.5", "ab-input@1.5"]}
    # and the check itself sees a broken picture and a broken player
    page = (tmp_path / "r.html").read_text()
    (tmp_path / "bad.html").write_text(page.replace("base64,", "base64,AAAA", 1)
                                       .replace("png;base64,", "png;base64,AAAA", 1))
    seen = browser_check(tmp_path / "bad.html", tmp_path)
    assert "broken" in seen["images"] and seen["audio"][0] != "ok" and seen["errors"]
