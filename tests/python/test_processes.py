"""Fits over the processes of an mpi4py communicator (comm=) under mpirun: every process gets the
model one process gets on all the rows, bit for bit. Run as a script, this file is the processes'
side: each process writes what it found to rank<r>.json in the folder it is given."""

import importlib.util
import json
import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
MPIRUN = ["mpirun", "--oversubscribe", "--allow-run-as-root"]


def run_under_mpirun(processes, *command):
    # Found, not imported: a process that started MPI cannot start mpirun.
    if not importlib.util.find_spec("mpi4py") or not shutil.which("mpirun"):
        pytest.skip("no mpi4py or no mpirun")
    if not importlib.util.find_spec("mogem._mpi"):
        pytest.skip("mogem was built without MPI")
    done = subprocess.run(MPIRUN + ["-np", str(processes), sys.executable, *map(str, command)], capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_the_example_gives_every_process_the_one_process_model():
    out = run_under_mpirun(2, REPOSITORY / "examples" / "mpi4py_fit.py")
    assert "process 0 of 2" in out and "process 1 of 2" in out, out
    assert out.count("bit for bit: True") == 2, out


def test_shares_of_any_size_give_the_one_process_fit_and_refusals_reach_every_process(tmp_path):
    run_under_mpirun(3, __file__, tmp_path)
    lines = [json.loads((tmp_path / f"rank{rank}.json").read_text()) for rank in range(3)]
    assert len({line["unseeded"] for line in lines}) == 1
    for line in lines:
        assert line["differs"] == [], line
        # A NaN in process 1's rows, or fewer features in process 2's, is refused on every process.
        assert len(line["refused"]) == 2 and "NaN" in line["refused"][0], line
        assert "same number of features; they have [3, 4]" in line["refused"][1], line


# Run alone (one process): importing mpi4py here would keep the tests above from starting mpirun.
COPIES_AND_PICKLES = """
import copy, pickle
import numpy as np
from mpi4py import MPI
from sklearn.base import clone
from sklearn.model_selection import GridSearchCV
import mogem

comm = MPI.COMM_WORLD
X = np.random.RandomState(0).normal(size=(60, 2))
estimator = mogem.GaussianMixture(2, random_state=1, comm=comm)
twin = clone(estimator)
assert twin is not estimator and twin.comm is comm and twin.get_params()["comm"] is comm
assert GridSearchCV(estimator, {"n_components": [1, 2]}, cv=2).fit(X).best_estimator_.comm is comm
fitted = mogem.GaussianMixture(2, random_state=1).fit(X).set_params(comm=comm)
copied = copy.deepcopy(fitted)
assert copied.comm is comm and copied.means_ is not fitted.means_
assert copied.predict_proba(X).tobytes() == fitted.predict_proba(X).tobytes()
try:
    pickle.dumps(fitted)
    raise SystemExit("pickled an estimator holding a communicator")
except TypeError as e:
    assert "comm=" in str(e) and "set_params(comm=None) before pickling" in str(e), e
again = pickle.loads(pickle.dumps(fitted.set_params(comm=None)))
assert again.comm is None and again.predict_proba(X).tobytes() == fitted.predict_proba(X).tobytes()
"""


def test_copies_and_clones_share_the_communicator_and_pickles_refuse_it():
    if not all(importlib.util.find_spec(name) for name in ("mpi4py", "mogem._mpi", "sklearn")):
        pytest.skip("no mpi4py or scikit-learn, or mogem was built without MPI")
    done = subprocess.run([sys.executable, "-c", COPIES_AND_PICKLES], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr + done.stdout


def processes_side(folder):
    from mpi4py import MPI

    import mogem

    comm = MPI.COMM_WORLD
    rng = np.random.RandomState(3)
    X = np.vstack([rng.normal(0, 1, (301, 4)), rng.normal(3, 1, (200, 4)), rng.normal(-3, 2, (150, 4))])
    rng.shuffle(X)
    mine = np.array_split(X, [7, 400])[comm.rank]  # uneven shares, one smaller than the components
    differs = []
    starts = ("kmeans", "k-means++", "random_from_data", "random")
    for kind, start in zip(("spherical", "diag", "full", "tied"), starts):
        params = dict(n_components=3, covariance_type=kind, init_params=start, n_init=2, random_state=5)
        shared = mogem.GaussianMixture(comm=comm, **params).fit(mine)
        alone = mogem.GaussianMixture(**params).fit(X)
        for name in ("weights_", "means_", "covariances_", "lower_bound_", "n_iter_"):
            if not np.array_equal(getattr(shared, name), getattr(alone, name)):
                differs.append(f"{kind} {name}")
        if not np.array_equal(shared.labels_, np.array_split(alone.labels_, [7, 400])[comm.rank]):
            differs.append(f"{kind} labels_")
    table, chosen = mogem.select(mine, range(1, 4), ("diag", "tied"), random_state=5, comm=comm)
    table_alone, chosen_alone = mogem.select(X, range(1, 4), ("diag", "tied"), random_state=5)
    if not (table.equals(table_alone) and np.array_equal(chosen.covariances_, chosen_alone.covariances_)):
        differs.append("select")
    refused = []
    for rows in (mine * (np.nan if comm.rank == 1 else 1.0), mine[:, :3] if comm.rank == 2 else mine):
        try:
            mogem.GaussianMixture(2, comm=comm).fit(rows)
        except ValueError as e:
            refused.append(str(e))
    # random_state=None: each process's NumPy draws another seed; they take process 0's.
    unseeded = mogem.GaussianMixture(8, max_iter=3, comm=comm).fit(mine).means_.tobytes().hex()
    found = {"differs": differs, "refused": refused, "unseeded": unseeded}
    (pathlib.Path(folder) / f"rank{comm.rank}.json").write_text(json.dumps(found))


if __name__ == "__main__":
    processes_side(sys.argv[1])
