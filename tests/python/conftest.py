"""Data sets and the mogem program for the Python package's tests."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]


def read_parameter_file_rows(path):
    """The data rows of a parameter file (everything after its "begin" line)."""
    lines = pathlib.Path(path).read_text().splitlines()
    begin = next(i for i, line in enumerate(lines) if line.startswith("begin"))
    return np.array([[float(v) for v in line.split()] for line in lines[begin + 1:] if line.strip()])


@pytest.fixture(scope="session")
def iris():
    return read_parameter_file_rows(REPOSITORY / "examples" / "iris.txt")


@pytest.fixture(scope="session")
def mixture():
    """400 rows of five features from three overlapping groups with unequal spreads."""
    rng = np.random.RandomState(7)
    centres = np.array([[0, 0, 0, 0, 0], [3, 1, -2, 0, 1], [-1, 4, 1, 2, -2]], dtype=float)
    groups = rng.randint(0, 3, size=400)
    return centres[groups] + rng.standard_normal((400, 5)) * (0.5 + groups[:, None] * 0.4)


@pytest.fixture(scope="session")
def mogem_binary():
    path = os.environ.get("MOGEM_BINARY", str(REPOSITORY / "build" / "mogem"))
    if not os.access(path, os.X_OK):
        pytest.skip(f"the mogem program is not built at {path} (set MOGEM_BINARY)")
    return path


def run_program(binary, workdir, X, keys, threads=1):
    """Runs the mogem program on X with these parameter keys; returns the output's base path."""
    workdir = pathlib.Path(workdir)
    lines = [f"rows {X.shape[0]}", f"cols {X.shape[1]}"] + [f"{k} {v}" for k, v in keys.items()]
    if "predict_with" not in keys:  # a prediction fits nothing and writes no model
        lines += ["output_model 1", f"model_file {workdir / 'run.model.json'}"]
    lines += ["begin data"]
    lines += [" ".join(repr(float(v)) for v in row) for row in X]
    (workdir / "run.txt").write_text("\n".join(lines) + "\n")
    env = dict(os.environ, MOGEM_THREADS=str(threads))
    done = subprocess.run([binary, str(workdir / "run.txt"), str(workdir / "run.labels")], env=env,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return workdir / "run"
