"""The estimator gives the mogem program's results: its labels, its .probs to the printed digits,
its saved model bit for bit, on any number of threads."""

import numpy as np
import pytest

import mogem
from conftest import run_program

CASES = [
    dict(n_components=3),
    dict(n_components=3, covariance_type="diag", init_params="church_means", variance_floor=0.001, tol=1e-6),
    dict(n_components=3, covariance_type="spherical", reg_covar=0.0, init_params="k-means++"),
    dict(n_components=3, covariance_type="full", reg_covar=1e-4, tol=1e-8, init_params="random"),
    dict(n_components=4, covariance_type="full", init_params="random_point", random_state=5, n_init=3),
    dict(n_components=3, covariance_type="diag", metric="correlation", init_params="random_from_data"),
    dict(n_components=3, covariance_type="full", metric="correlation", center=True),
    dict(n_components=3, covariance_type="diag", algorithm="annealing", init_params="church_means", init_temp=4.0,
         schedule_scalar=0.8, max_iter=30),
    dict(n_components=3, covariance_type="spherical", init_params="random_sample", init_samples=5, random_state=3),
    dict(n_components=3, covariance_type="tied"),
]

KIND_KEYS = {"spherical": "scalar", "diag": "diagonal", "full": "full", "tied": "tied"}
PROGRAM_STARTS = {"k-means++": "k-means++", "kmeans": "kmeans", "random": "random_responsibilities",
                  "random_from_data": "random_from_data"}


def program_keys(params):
    """The parameter-file keys of the program run with the estimator's parameters (random_state 1
    where none is given)."""
    p = dict(mogem.GaussianMixture(random_state=1).get_params(), **params)
    keys = {
        "num_clusters": p["n_components"],
        "em_type": KIND_KEYS[p["covariance_type"]],
        "distance_metric": ("correlation_centered" if p["center"] else "correlation") if p["metric"] == "correlation"
        else "euclidean",
        "algorithm": "em_annealing" if p["algorithm"] == "annealing" else "em",
        "schedule_scalar": repr(p["schedule_scalar"]),
        "init_temp": repr(p["init_temp"]),
        "random_seed": p["random_state"],
        "num_restarts": p["n_init"],
        "max_em_iterations": p["max_iter"],
        "stop_rule": "loglik",
        "tol": repr(p["tol"]),
        "reg_covar": repr(p["reg_covar"]),
        "variance_floor": repr(p["variance_floor"]),
    }
    if p["init_params"] in PROGRAM_STARTS:
        keys["init_params"] = PROGRAM_STARTS[p["init_params"]]
    else:
        keys["init_method"] = p["init_params"]
    if p["init_samples"] is not None:
        keys["num_samples"] = p["init_samples"]
    return keys


def same_bits(a, b):
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def probs_text(posteriors):
    """Rows of posteriors as the program prints them: single precision, six decimals."""
    return ["\t".join("%f" % float(np.float32(v)) for v in row) for row in posteriors]


def assert_same_as_program(estimator, X, base):
    result = estimator._fit(X)
    labels = np.loadtxt(f"{base}.labels", dtype=int)
    assert np.array_equal(estimator.labels_ + 1, labels)
    probs = estimator.predict_proba(X)
    assert probs_text(probs) == open(f"{base}.probs").read().splitlines()
    # The posteriors predict_proba gives are the fit's final posteriors, bit for bit.
    assert same_bits(probs.T, result.posteriors)
    saved = mogem.load(f"{base}.model.json")
    for name in ("weights_", "means_", "covariances_"):
        assert same_bits(getattr(estimator, name), getattr(saved, name)), name
    assert saved.statistics_ == estimator.statistics_
    assert same_bits(saved.predict_proba(X), probs)


@pytest.mark.parametrize("params", CASES, ids=lambda p: "-".join(f"{k}={v}" for k, v in p.items()))
@pytest.mark.parametrize("data", ["iris", "mixture"])
def test_estimator_gives_the_programs_results(params, data, request, tmp_path, mogem_binary):
    X = request.getfixturevalue(data)
    base = run_program(mogem_binary, tmp_path, X, program_keys(params))
    for threads in (1, 2):
        estimator = mogem.GaussianMixture(**{"random_state": 1, **params, "n_threads": threads})
        assert_same_as_program(estimator, X, base)


def test_means_array_starts_as_the_programs_means_file(mixture, tmp_path, mogem_binary):
    # The program reads a means file in single precision: these means are exact there.
    means = mixture[[0, 1, 2]].astype(np.float32).astype(np.float64)
    (tmp_path / "start.means").write_text("\n".join(" ".join(repr(float(v)) for v in row) for row in means) + "\n")
    params = dict(n_components=3, init_params="church_means")
    keys = dict(program_keys(params), init_method="file", means_file=tmp_path / "start.means")
    base = run_program(mogem_binary, tmp_path, mixture, keys)
    assert_same_as_program(mogem.GaussianMixture(**params, means_init=means), mixture, base)
