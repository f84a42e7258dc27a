"""examples/dask_clean.py on a local cluster of two workers: every output
equals vocrel-clean's, at the mirrored path, and a damaged file is listed
without stopping the others."""

import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import PYTHON_DIR, REPO
from signals import noisy_speech

pytest.importorskip("distributed", reason="Debian's python3-dask and python3-distributed")
soundfile = pytest.importorskip("soundfile")

EXAMPLE = REPO / "examples" / "dask_clean.py"
# (relative path, rate, channels, sample format): the tree is mirrored and the
# format kept, as the tool keeps it.
FILES = [("a.wav", 16000, 1, "PCM_16"), ("talks/b.wav", 44100, 2, "PCM_24"),
         ("talks/deep/c.flac", 8000, 1, "PCM_16"), ("talks/d.wav", 48000, 2, "FLOAT")]


def run_example(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(PYTHON_DIR), os.environ.get("PYTHONPATH", "")]))
    return subprocess.run([sys.executable, str(EXAMPLE), "--local", "2", *map(str, args)],
                          env=env, capture_output=True, text=True, timeout=240)


def test_cluster_outputs_equal_the_tools(tool, tmp_path):
    corpus, out, ref = tmp_path / "corpus", tmp_path / "out", tmp_path / "ref"
    for i, (rel, rate, channels, subtype) in enumerate(FILES):
        (corpus / rel).parent.mkdir(parents=True, exist_ok=True)
        x = noisy_speech(rate, 0.6, seed=40 + i, channels=channels)[0]
        soundfile.write(corpus / rel, x / 32768.0, rate, subtype=subtype)
    (corpus / "notes.txt").write_text("not audio, not taken: the extension filter")
    (corpus / "talks" / "broken.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunk")

    r = run_example(corpus, "-o", out)
    assert r.returncode == 1, r.stdout + r.stderr  # the damaged file, and only it, failed
    assert "4 of 5 files cleaned" in r.stderr, r.stderr
    assert str(corpus / "talks" / "broken.wav") in r.stderr
    assert "[" in r.stdout  # Dask's progress bar

    written = sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
    assert written == sorted(rel for rel, *_ in FILES)
    for rel, _, _, subtype in FILES:
        dst = ref / rel
        dst.parent.mkdir(parents=True, exist_ok=True)
        t = subprocess.run([tool, "-q", str(corpus / rel), str(dst)], capture_output=True,
                           timeout=60)
        assert t.returncode == 0, t.stderr.decode()
        if subtype == "FLOAT":  # libsndfile stamps the time into a float file's PEAK chunk
            assert soundfile.info(out / rel).subtype == soundfile.info(dst).subtype
            np.testing.assert_array_equal(soundfile.read(out / rel, dtype="float32")[0],
                                          soundfile.read(dst, dtype="float32")[0], err_msg=rel)
        else:
            assert (out / rel).read_bytes() == dst.read_bytes(), rel


def test_overlapping_outputs_are_refused_before_any_work(tmp_path):
    for d in ("x", "y"):
        (tmp_path / d).mkdir()
        soundfile.write(tmp_path / d / "same.wav", np.zeros(800, np.int16), 8000)
    r = run_example(tmp_path / "x", tmp_path / "y", "-o", tmp_path / "out")
    assert r.returncode != 0 and "would both be written to" in r.stderr, r.stderr
    assert not (tmp_path / "out").exists()
