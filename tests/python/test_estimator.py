"""What a user of mogem.GaussianMixture and mogem.select sees: parameters, errors, results,
saved models and scikit-learn's tools."""

import os
import pickle
import signal
import subprocess
import sys

import numpy as np
import pytest

import mogem


@pytest.mark.parametrize("params, text", [
    (dict(covariance_type="shared"), "covariance_type must be one of 'spherical', 'diag', 'full', 'tied'; got 'shared'"),
    (dict(covariance_type="tied", algorithm="annealing"), "tied classes share one covariance; use method em"),
    (dict(metric="cosine"), "metric must be one of 'euclidean', 'correlation'"),
    (dict(algorithm="vb"), "algorithm must be one of 'em', 'annealing'"),
    (dict(init="k-means++"), "init must be one of 'church_means', 'random_means'"),
    (dict(n_components=0), "n_components must be an integer of at least 1; got 0"),
    (dict(max_iter=2.5), "max_iter must be an integer of at least 0"),
    (dict(reg_covar=-1.0), "reg_covar must be a finite number at least 0.0; got -1.0"),
    (dict(tol=float("nan")), "tol must be a finite number"),
    (dict(n_init=3), "n_init=3 needs a random init"),
    (dict(init="random_sample"), "set init_samples"),
    (dict(init=np.zeros((2, 4))), "shape (n_components, n_features) = (1, 4); got shape (2, 4)"),
    (dict(random_state="seed"), "random_state must be None, an integer or a numpy RandomState"),
    (dict(n_components=151), "Expected n_samples >= n_components"),
])
def test_invalid_parameters_name_the_parameter(iris, params, text):
    with pytest.raises(ValueError) as raised:
        mogem.GaussianMixture(**params).fit(iris)
    assert text in str(raised.value)


def test_numeric_failures_raise_fit_error_with_a_remedy():
    duplicates = np.ones((20, 2))
    with pytest.raises(mogem.FitError) as raised:
        mogem.GaussianMixture(2, covariance_type="full", reg_covar=0.0).fit(duplicates)
    assert raised.value.kind == "numerical_failure"
    assert "raise reg_covar" in str(raised.value)
    with pytest.raises(mogem.FitError) as raised:
        mogem.GaussianMixture(2, reg_covar=0.0).fit(duplicates)
    assert raised.value.kind == "breakdown"
    assert "choose other initial means" in str(raised.value)


def test_results_agree_with_the_fit_statistics(mixture):
    estimator = mogem.GaussianMixture(3, covariance_type="full")
    labels = estimator.fit_predict(mixture)
    assert np.array_equal(labels, estimator.predict(mixture))
    assert np.array_equal(labels, np.argmax(estimator.predict_proba(mixture), axis=1))
    # Added in row order as the engine adds them: the statistics' own bits.
    assert estimator.score(mixture) == estimator.lower_bound_
    assert estimator.bic(mixture) == estimator.statistics_["bic"]
    assert estimator.aic(mixture) == estimator.statistics_["aic"]
    assert estimator.covariances_.shape == (3, 5, 5)
    assert mogem.GaussianMixture(3, covariance_type="spherical").fit(mixture).covariances_.shape == (3,)
    assert not estimator.weights_.flags.writeable


def test_saved_and_pickled_models_predict_the_same_bits(mixture, tmp_path):
    estimator = mogem.GaussianMixture(3, metric="correlation", center=True).fit(mixture)
    estimator.save(tmp_path / "model.json")
    loaded = mogem.load(tmp_path / "model.json")
    unpickled = pickle.loads(pickle.dumps(estimator))
    expected = estimator.predict_proba(mixture).tobytes()
    assert loaded.predict_proba(mixture).tobytes() == expected
    assert unpickled.predict_proba(mixture).tobytes() == expected
    assert (loaded.metric, loaded.center, loaded.n_components) == ("correlation", True, 3)
    with pytest.raises(OSError):
        estimator.save(tmp_path / "missing" / "model.json")
    (tmp_path / "bad.json").write_text("{}")
    with pytest.raises(ValueError, match="bad.json"):
        mogem.load(tmp_path / "bad.json")


def test_sample_draws_from_the_components(mixture):
    estimator = mogem.GaussianMixture(3, covariance_type="full", random_state=1).fit(mixture)
    X, y = estimator.sample(3000)
    assert X.shape == (3000, 5) and np.bincount(y, minlength=3).sum() == 3000
    # Each component's draws centre on its mean (3000 draws: well within 0.3).
    for k in range(3):
        assert np.abs(X[y == k].mean(axis=0) - estimator.means_[k]).max() < 0.3
    assert np.array_equal(estimator.sample(10)[0], estimator.sample(10)[0])


def test_works_in_scikit_learns_tools(mixture):
    pytest.importorskip("sklearn")
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import make_pipeline
    from sklearn.preprocessing import StandardScaler

    search = GridSearchCV(mogem.GaussianMixture(covariance_type="full"), {"n_components": [1, 2, 3, 4]}, cv=3)
    search.fit(mixture)
    assert search.best_params_["n_components"] in (3, 4)
    pipeline = make_pipeline(StandardScaler(), mogem.GaussianMixture(3)).fit(mixture)
    scaled = StandardScaler().fit_transform(mixture)
    assert np.array_equal(pipeline.predict(mixture), mogem.GaussianMixture(3).fit(scaled).predict(scaled))


def test_select_keeps_the_lowest_criterion(iris):
    table, best = mogem.select(iris, n_components=range(1, 5), covariance_types=("diag", "tied", "full"), criterion="bic")
    records = table.to_dict("records") if hasattr(table, "to_dict") else table
    assert [(r["covariance_type"], r["n_components"]) for r in records] == \
        [(t, k) for t in ("diag", "tied", "full") for k in range(1, 5)]
    # Free parameters: K - 1 weights, K F means and the covariances (one shared F x F for tied).
    per_kind = {"diag": lambda k: k * 4, "tied": lambda k: 10, "full": lambda k: k * 10}
    assert all(r["n_parameters"] == r["n_components"] - 1 + 4 * r["n_components"] +
               per_kind[r["covariance_type"]](r["n_components"]) for r in records)
    chosen = min(records, key=lambda r: r["bic"])
    assert [r["chosen"] for r in records].count(True) == 1 and chosen["chosen"]
    assert (best.n_components, best.covariance_type) == (chosen["n_components"], chosen["covariance_type"])
    assert best.statistics_["bic"] == chosen["bic"]
    refit = mogem.GaussianMixture(best.n_components, covariance_type=best.covariance_type).fit(iris)
    assert refit.means_.tobytes() == best.means_.tobytes()
    with pytest.raises(ValueError, match="consecutive"):
        mogem.select(iris, n_components=[1, 3])


def test_select_never_picks_a_failed_candidate():
    # Collinear features: a full covariance of several classes is singular without reg_covar.
    a = np.array([(4.0 if i % 2 else 0.0) + 0.1 * (i % 7) for i in range(60)])
    X = np.column_stack([a, 2 * a, 0.3 * (np.arange(60) % 5)])
    table, best = mogem.select(X, n_components=range(1, 3), covariance_types=("full", "diag"), reg_covar=0.0)
    records = table.to_dict("records") if hasattr(table, "to_dict") else table
    failed = [r for r in records if r["failed"]]
    assert failed and all(r["covariance_type"] == "full" for r in failed)
    assert all(np.isnan(r[c]) for r in failed for c in ("bic", "aic", "icl", "log_likelihood"))
    assert all(r["failure"] for r in failed)
    if hasattr(table, "to_dict"):
        assert table.loc[table.bic.idxmin(), "chosen"]
    assert not any(r["failed"] for r in records if r["chosen"])


def test_ctrl_c_ends_a_long_fit():
    rng = np.random.RandomState(0)
    X = rng.standard_normal((200_000, 16))
    previous = signal.signal(signal.SIGALRM, lambda *_: signal.default_int_handler(signal.SIGINT, None))
    signal.setitimer(signal.ITIMER_REAL, 0.5)
    try:
        with pytest.raises(KeyboardInterrupt):
            mogem.GaussianMixture(16, covariance_type="full", max_iter=100_000, tol=0.0, n_threads=1).fit(X)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def test_works_without_scikit_learn(tmp_path):
    script = """
import sys
sys.modules["sklearn"] = None  # import sklearn now fails
import numpy as np, mogem
X = np.random.RandomState(0).standard_normal((50, 3))
g = mogem.GaussianMixture(2).set_params(covariance_type="full")
assert g.get_params()["covariance_type"] == "full"
assert g.fit(X).predict(X).shape == (50,)
try:
    mogem.GaussianMixture(2).fit(np.full((5, 2), np.nan))
except ValueError as e:
    print("refused:", e)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    assert "refused: Input X contains NaN" in done.stdout
