"""The shipped Python examples run: the iris picture, and the program written for scikit-learn's
class whose import line alone names mogem."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
EXAMPLE = EXAMPLES / "iris.py"


def test_iris_example_draws_the_picture(tmp_path):
    pytest.importorskip("matplotlib")
    picture = tmp_path / "iris.png"
    done = subprocess.run([sys.executable, str(EXAMPLE), str(picture)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_scikit_learn_program_runs_with_mogems_class():
    program = EXAMPLES / "sklearn_program.py"
    assert [line for line in program.read_text().splitlines() if "mogem" in line] == ["from mogem import GaussianMixture"]
    done = subprocess.run([sys.executable, str(program)], capture_output=True, text=True)
    assert done.returncode == 0 and not done.stderr, done.stderr
    assert "warm start: converged after" in done.stdout
