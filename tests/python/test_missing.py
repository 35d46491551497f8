"""Missing values in mogem.GaussianMixture: NaN refused as scikit-learn refuses it by default;
under missing='em' the fit, the predictions and impute give the program's results for the same
data, bit for bit (whose .imputed tests/cli/missing_values_test.cpp holds against worked values)."""

import numpy as np
import pytest

import mogem
from conftest import run_program
from test_same_bytes import probs_text, program_keys

sklearn = pytest.importorskip("sklearn")
from sklearn.exceptions import NotFittedError  # noqa: E402


def with_holes(X, share, seed):
    """X with about `share` of its values NaN, every row keeping an observed value."""
    holes = np.random.RandomState(seed).rand(*X.shape) < share
    holes[holes.all(axis=1), 0] = False
    return np.where(holes, np.nan, X)


def test_nan_is_refused_unless_missing_is_em(iris):
    with pytest.raises(ValueError, match="Input X contains NaN(.|\n)*with missing='em'"):
        mogem.GaussianMixture(2).fit(with_holes(iris, 0.1, 0))
    with pytest.raises(ValueError, match="missing must be one of 'refuse', 'em'; got 'EM'"):
        mogem.GaussianMixture(2, missing="EM").fit(iris)
    with pytest.raises(NotFittedError):
        mogem.GaussianMixture(2, missing="em").impute(iris)


def test_estimator_with_holes_gives_the_programs_results(iris, tmp_path, mogem_binary):
    X = with_holes(iris, 0.1, 7)
    params = dict(n_components=3, covariance_type="full", missing="em")
    base = run_program(mogem_binary, tmp_path, X, dict(program_keys(params), missing_values="em"))
    estimator = mogem.GaussianMixture(random_state=1, **params).fit(X)
    assert np.array_equal(estimator.labels_ + 1, np.loadtxt(f"{base}.labels", dtype=int))
    probs = estimator.predict_proba(X)
    assert probs_text(probs) == open(f"{base}.probs").read().splitlines()
    assert np.array_equal(estimator.predict(X), probs.argmax(axis=1))
    assert np.isfinite(estimator.score_samples(X)).all()
    saved = mogem.load(f"{base}.model.json")
    for name in ("weights_", "means_", "covariances_"):
        assert getattr(estimator, name).tobytes() == getattr(saved, name).tobytes(), name
    assert estimator.impute(X).tobytes() == np.loadtxt(f"{base}.imputed").tobytes()
    table, best = mogem.select(X, n_components=range(1, 3), missing="em", random_state=0)
    assert not table.failed.any() and best.missing == "em"
