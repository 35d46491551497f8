"""The shipped Python example runs and draws its picture."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "iris.py"


def test_iris_example_draws_the_picture(tmp_path):
    pytest.importorskip("matplotlib")
    picture = tmp_path / "iris.png"
    done = subprocess.run([sys.executable, str(EXAMPLE), str(picture)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
