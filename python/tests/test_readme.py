"""The README's Python example runs as printed."""

import re

import numpy as np
import pytest

from conftest import REPO
from vocrel_rnr import read_wav


def readme_example():
    readme = REPO / "README.md"
    if not readme.exists():
        pytest.skip("README.md is not in this tree")
    section = re.search(r"^## Python\n(.*?)(?=^## |\Z)", readme.read_text(), re.M | re.S)
    block = section and re.search(r"```python\n(.*?)```", section.group(1), re.S)
    if not block:
        pytest.skip("README.md has no Python example under '## Python'")
    return block.group(1)


def test_readme_example(tmp_path, monkeypatch):
    code = readme_example()
    sample = REPO / "samples" / "noisy_speech.wav"
    if not sample.exists():
        pytest.skip(f"{sample} is not in this tree")
    (tmp_path / "samples").symlink_to(sample.parent)
    monkeypatch.chdir(tmp_path)
    ns = {}
    exec(compile(code, "README.md", "exec"), ns)

    audio, rate = read_wav(sample)
    cleaned, rate_out = read_wav(tmp_path / "cleaned.flac")
    assert rate_out == rate and cleaned.shape == audio.shape
    assert not np.array_equal(cleaned, audio)
    if "parts" in ns:  # the streaming half of the example gives the same samples
        np.testing.assert_array_equal(np.concatenate(ns["parts"]), cleaned)
