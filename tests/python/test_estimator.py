"""What a user of mogem.GaussianMixture (scikit-learn's class by another engine) and mogem.select
sees: parameters, errors, results, warm starts, the *_init arrays, saved models and scikit-learn's
tools."""

import os
import pickle
import signal
import subprocess
import sys
import warnings

import numpy as np
import pytest

import mogem

sklearn = pytest.importorskip("sklearn")
from sklearn.exceptions import ConvergenceWarning, NotFittedError  # noqa: E402

KINDS = ["full", "tied", "diag", "spherical"]


@pytest.mark.parametrize("params, text", [
    (dict(covariance_type="shared"), "covariance_type must be one of 'spherical', 'diag', 'full', 'tied'; got 'shared'"),
    (dict(covariance_type="tied", algorithm="annealing"), "tied classes share one covariance; use method em"),
    (dict(metric="cosine"), "metric must be one of 'euclidean', 'correlation'"),
    (dict(init_params="kmeans++"), "init_params must be one of 'kmeans', 'k-means++', 'random', 'random_from_data', "
                                   "'church_means'"),
    (dict(n_components=0), "n_components must be an integer of at least 1; got 0"),
    (dict(max_iter=2.5), "max_iter must be an integer of at least 0"),
    (dict(reg_covar=-1.0), "reg_covar must be a finite number at least 0.0; got -1.0"),
    (dict(tol=float("nan")), "tol must be a finite number"),
    (dict(verbose_interval=0), "verbose_interval must be an integer of at least 1"),
    (dict(n_init=3, init_params="church_means"), "n_init=3 needs a random start"),
    (dict(init_params="random_sample"), "set init_samples"),
    (dict(random_state="seed"), "random_state must be None, an integer or a numpy RandomState"),
    (dict(n_components=151), "Expected n_samples >= n_components"),
    # The *_init arrays, in scikit-learn's words.
    (dict(n_components=2, weights_init=[0.5, 0.2, 0.3]), "The parameter 'weights' should have the shape of (2,), "
                                                         "but got (3,)"),
    (dict(n_components=2, weights_init=[1.5, -0.5]), "should be in the range [0, 1]"),
    (dict(n_components=2, weights_init=[0.5, 0.4]), "should be normalized, but got sum(weights) = 0.90000"),
    (dict(means_init=np.zeros((2, 4))), "The parameter 'means' should have the shape of (1, 4), but got (2, 4)"),
    (dict(precisions_init=np.eye(3)[None]), "The parameter 'full precision' should have the shape of (1, 4, 4)"),
    (dict(covariance_type="tied", precisions_init=-np.eye(4)), "'tied precision' should be symmetric, "
                                                                "positive-definite"),
    (dict(covariance_type="diag", precisions_init=np.zeros((1, 4))), "'diag precision' should be positive"),
])
def test_invalid_parameters_name_the_parameter(iris, params, text):
    with pytest.raises(ValueError) as raised:
        mogem.GaussianMixture(**params).fit(iris)
    assert text in str(raised.value)


@pytest.mark.parametrize("X, params, kind, words", [
    # Coinciding starting means: the start's variance is zero, reg_covar is not yet added.
    (np.ones((20, 2)), dict(reg_covar=0.0, init_params="church_means"), "numerical_failure",
     "the covariance of class 1 is singular at EM step 0 (its starting variance is zero: its starting mean coincides "
     "with another class's): set reg_covar, e.g. 1e-6, choose other starting means (another init_params or "
     "random_state) or fewer components (n_components)"),
    # Rows on a line.
    (np.repeat([[0.0, 0.0], [4.0, 4.0]], 2, axis=0), dict(n_components=1, reg_covar=0.0), "numerical_failure",
     "(it is not positive definite: the rows it holds lie on a line or a plane, or are fewer than the features): set "
     "reg_covar, e.g. 1e-6, use fewer components (n_components) or covariance_type='diag'"),
])
def test_numeric_failures_are_value_errors_with_the_remedy(X, params, kind, words):
    with pytest.raises(ValueError) as raised:
        mogem.GaussianMixture(**{"n_components": 2, **params}).fit(X)
    assert isinstance(raised.value, mogem.FitError) and raised.value.kind == kind
    assert str(raised.value).startswith("Fitting the mixture model failed because some components have ill-defined")
    assert words in str(raised.value)


@pytest.mark.parametrize("kind", KINDS)
def test_results_have_scikit_learns_shapes_and_meaning(mixture, kind):
    estimator = mogem.GaussianMixture(3, covariance_type=kind, random_state=0)
    labels = estimator.fit_predict(mixture)
    assert np.array_equal(labels, estimator.predict(mixture))
    assert np.array_equal(labels, np.argmax(estimator.predict_proba(mixture), axis=1))
    # Added in row order as the engine adds them: the statistics' own bits.
    assert estimator.score(mixture) == estimator.statistics_["log_likelihood_per_point"]
    assert estimator.bic(mixture) == estimator.statistics_["bic"]
    assert estimator.aic(mixture) == estimator.statistics_["aic"]
    # lower_bound_ is the last E-step's, before the last update: within tol of the final score.
    assert estimator.converged_ and 0 <= estimator.score(mixture) - estimator.lower_bound_ < estimator.tol
    shape = {"full": (3, 5, 5), "tied": (5, 5), "diag": (3, 5), "spherical": (3,)}[kind]
    for name in ("covariances_", "precisions_", "precisions_cholesky_"):
        assert getattr(estimator, name).shape == shape, name
    if kind in ("full", "tied"):
        assert np.allclose(estimator.precisions_ @ estimator.covariances_, np.eye(5))
    else:
        assert np.allclose(estimator.precisions_ * estimator.covariances_, 1.0)
    assert not estimator.weights_.flags.writeable


@pytest.mark.parametrize("kind", KINDS)
def test_same_start_gives_scikit_learns_fit(mixture, kind):
    from sklearn.mixture import GaussianMixture

    start = GaussianMixture(3, covariance_type=kind, max_iter=0, random_state=0).fit(mixture)
    given = dict(n_components=3, covariance_type=kind, weights_init=start.weights_, means_init=start.means_,
                 precisions_init=start.precisions_, tol=1e-6)
    ours, theirs = mogem.GaussianMixture(**given).fit(mixture), GaussianMixture(**given).fit(mixture)
    assert ours.n_iter_ == theirs.n_iter_ and ours.lower_bound_ == pytest.approx(theirs.lower_bound_, rel=1e-10)
    for name in ("weights_", "means_", "covariances_", "precisions_", "precisions_cholesky_"):
        assert np.allclose(getattr(ours, name), getattr(theirs, name), rtol=1e-7, atol=1e-10), name


def test_start_arrays_warm_starts_and_seeds(mixture):
    # With max_iter=0 the model is the start: the given arrays where given (no ConvergenceWarning).
    weights, means = [0.2, 0.3, 0.5], mixture[:3]
    precisions = np.array([np.eye(5) * p for p in (1.0, 2.0, 4.0)])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        start = mogem.GaussianMixture(3, max_iter=0, weights_init=weights, means_init=means,
                                      precisions_init=precisions).fit(mixture)
    assert np.allclose(start.weights_, weights) and np.array_equal(start.means_, means)
    assert np.allclose(start.precisions_, precisions) and start.n_iter_ == 0
    # Means alone replace those of the k-means start; its weights stay.
    kmeans = mogem.GaussianMixture(3, max_iter=0, random_state=4).fit(mixture)
    moved = mogem.GaussianMixture(3, max_iter=0, random_state=4, means_init=means).fit(mixture)
    assert np.array_equal(moved.weights_, kmeans.weights_) and np.array_equal(moved.means_, means)
    # Two warm fits of one step are one fit of two steps, bit for bit; a warm fit at the optimum
    # stops after one step.
    two = mogem.GaussianMixture(3, max_iter=2, random_state=2).fit(mixture)
    warm = mogem.GaussianMixture(3, max_iter=1, random_state=2, warm_start=True)
    with pytest.warns(ConvergenceWarning, match="Initialization 1 did not converge.*budget of 1 steps"):
        warm.fit(mixture)
    warm.fit(mixture)
    assert warm.means_.tobytes() == two.means_.tobytes() and warm.lower_bound_ == two.lower_bound_
    done = mogem.GaussianMixture(3, random_state=2, warm_start=True, n_init=4).fit(mixture)
    assert done.fit(mixture).n_iter_ == 1 and done.converged_ and len(done.restarts_) == 1
    # random_state: an int gives the same bits on any thread count, None follows NumPy's seed.
    fits = [mogem.GaussianMixture(3, random_state=9, n_threads=t).fit(mixture).means_.tobytes() for t in (1, 2)]
    assert fits[0] == fits[1]
    np.random.seed(3)
    first = mogem.GaussianMixture(3, init_params="random").fit(mixture).means_
    np.random.seed(3)
    assert np.array_equal(first, mogem.GaussianMixture(3, init_params="random").fit(mixture).means_)


def test_verbose_prints_scikit_learns_lines(mixture, capsys):
    mogem.GaussianMixture(3, random_state=0, n_init=2, verbose=1, verbose_interval=2).fit(mixture)
    lines = capsys.readouterr().out.splitlines()
    assert lines[:3] == ["Initialization 0", "  Iteration 2", "  Iteration 4"]
    assert lines.count("Initialization converged: True") == 2 and "Initialization 1" in lines


def test_not_fitted_and_sample(mixture):
    estimator = mogem.GaussianMixture(3, covariance_type="full", random_state=1)
    for use in (estimator.predict, estimator.score, estimator.bic, estimator.score_samples):
        with pytest.raises(NotFittedError, match="This GaussianMixture instance is not fitted yet"):
            use(mixture)
    with pytest.raises(NotFittedError):
        estimator.sample(5)
    estimator.fit(mixture)
    with pytest.raises(ValueError, match="Invalid value for 'n_samples'"):
        estimator.sample(0)
    X, y = estimator.sample(3000)
    assert X.shape == (3000, 5) and np.bincount(y, minlength=3).sum() == 3000
    # Each component's draws centre on its mean (3000 draws: well within 0.3).
    for k in range(3):
        assert np.abs(X[y == k].mean(axis=0) - estimator.means_[k]).max() < 0.3
    # As scikit-learn: an int random_state draws the same rows each time, a RandomState goes on.
    assert np.array_equal(estimator.sample(10)[0], estimator.sample(10)[0])
    estimator.set_params(random_state=np.random.RandomState(0))
    assert not np.array_equal(estimator.sample(10)[0], estimator.sample(10)[0])


def test_saved_and_pickled_models_predict_the_same_bits(mixture, tmp_path):
    pandas = pytest.importorskip("pandas")
    mixture = pandas.DataFrame(mixture, columns=list("abcde"))
    estimator = mogem.GaussianMixture(3, metric="correlation", center=True).fit(mixture)
    estimator.save(tmp_path / "model.json")
    loaded = mogem.load(tmp_path / "model.json")
    unpickled = pickle.loads(pickle.dumps(estimator))
    expected = estimator.predict_proba(mixture).tobytes()
    assert loaded.predict_proba(mixture).tobytes() == expected
    assert unpickled.predict_proba(mixture).tobytes() == expected
    assert np.array_equal(loaded.precisions_, estimator.precisions_)
    assert (loaded.metric, loaded.center, loaded.n_components) == ("correlation", True, 3)
    assert list(loaded.feature_names_in_) == list("abcde")
    with pytest.raises(OSError):
        estimator.save(tmp_path / "missing" / "model.json")
    (tmp_path / "bad.json").write_text("{}")
    with pytest.raises(ValueError, match="bad.json"):
        mogem.load(tmp_path / "bad.json")


def test_works_in_scikit_learns_tools(mixture):
    from sklearn.base import clone
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import make_pipeline
    from sklearn.preprocessing import StandardScaler

    search = GridSearchCV(mogem.GaussianMixture(random_state=0), {"n_components": [1, 2, 3, 4],
                                                                  "covariance_type": KINDS}, cv=3)
    search.fit(mixture)
    assert search.best_params_["n_components"] in (3, 4)
    pipeline = make_pipeline(StandardScaler(), mogem.GaussianMixture(3, random_state=0)).fit(mixture)
    scaled = StandardScaler().fit_transform(mixture)
    assert np.array_equal(pipeline.predict(mixture), mogem.GaussianMixture(3, random_state=0).fit(scaled).predict(scaled))
    assert clone(search.best_estimator_).get_params() == search.best_estimator_.get_params()


def test_select_keeps_the_lowest_criterion(iris):
    table, best = mogem.select(iris, n_components=range(1, 5), criterion="bic", random_state=0)
    records = table.to_dict("records") if hasattr(table, "to_dict") else table
    assert [(r["covariance_type"], r["n_components"]) for r in records] == \
        [(t, k) for t in ("spherical", "diag", "tied", "full") for k in range(1, 5)]
    # Free parameters: K - 1 weights, K F means and the covariances (one shared F x F for tied).
    per_kind = {"spherical": lambda k: k, "diag": lambda k: k * 4, "tied": lambda k: 10, "full": lambda k: k * 10}
    assert all(r["n_parameters"] == r["n_components"] - 1 + 4 * r["n_components"] +
               per_kind[r["covariance_type"]](r["n_components"]) for r in records)
    chosen = min(records, key=lambda r: r["bic"])
    assert [r["chosen"] for r in records].count(True) == 1 and chosen["chosen"]
    assert (best.n_components, best.covariance_type) == (chosen["n_components"], chosen["covariance_type"])
    assert best.statistics_["bic"] == chosen["bic"]
    refit = mogem.GaussianMixture(best.n_components, covariance_type=best.covariance_type, random_state=0).fit(iris)
    assert refit.means_.tobytes() == best.means_.tobytes()
    with pytest.raises(ValueError, match="consecutive"):
        mogem.select(iris, n_components=[1, 3])


def test_select_never_picks_a_failed_candidate():
    # Collinear features: a full covariance of several classes is singular without reg_covar.
    a = np.array([(4.0 if i % 2 else 0.0) + 0.1 * (i % 7) for i in range(60)])
    X = np.column_stack([a, 2 * a, 0.3 * (np.arange(60) % 5)])
    table, best = mogem.select(X, n_components=range(1, 3), covariance_types=("full", "diag"), reg_covar=0.0,
                               init_params="church_means")
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
            mogem.GaussianMixture(16, max_iter=100_000, tol=0.0, n_threads=1, init_params="random").fit(X)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def test_works_without_scikit_learn(tmp_path):
    script = """
import sys
sys.modules["sklearn"] = None  # import sklearn now fails
import numpy as np, mogem
X = np.random.RandomState(0).standard_normal((50, 3))
g = mogem.GaussianMixture(2, random_state=0).set_params(covariance_type="diag")
assert g.get_params()["covariance_type"] == "diag"
assert g.fit(X).predict(X).shape == (50,)
try:
    mogem.GaussianMixture(2).predict(X)
except ValueError as e:
    print("refused:", e)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    assert "refused: This GaussianMixture instance is not fitted yet" in done.stdout
