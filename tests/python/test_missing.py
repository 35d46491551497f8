"""Missing values in mogem.GaussianMixture: NaN refused as scikit-learn refuses it by default;
under missing='em' the predictions and impute against the marginal densities of each row's
observed values, computed here with SciPy."""

import numpy as np
import pytest
from scipy.stats import multivariate_normal

import mogem

sklearn = pytest.importorskip("sklearn")
from sklearn.exceptions import NotFittedError  # noqa: E402


def with_holes(X, share, seed):
    """X with about `share` of its values replaced by NaN, no row left without an observed value."""
    rng = np.random.RandomState(seed)
    holes = rng.rand(*X.shape) < share
    holes[holes.all(axis=1), 0] = False
    return np.where(holes, np.nan, X)


def test_nan_is_refused_unless_missing_is_em(iris):
    holed = with_holes(iris, 0.1, 0)
    with pytest.raises(ValueError, match="Input X contains NaN"):
        mogem.GaussianMixture(2).fit(holed)
    fitted = mogem.GaussianMixture(2, random_state=0).fit(iris)
    for method in (fitted.predict, fitted.predict_proba, fitted.score_samples):
        with pytest.raises(ValueError, match="Input X contains NaN"):
            method(holed)
    with pytest.raises(ValueError, match="missing must be one of 'refuse', 'em'; got 'EM'"):
        mogem.GaussianMixture(2, missing="EM").fit(iris)
    with pytest.raises(ValueError, match="infinity"):
        mogem.GaussianMixture(2, missing="em").fit(np.where(np.isnan(holed), np.inf, holed))
    with pytest.raises(NotFittedError):
        mogem.GaussianMixture(2, missing="em").impute(holed)


def test_data_without_holes_give_the_same_model_under_em(iris):
    plain = mogem.GaussianMixture(3, random_state=1).fit(iris)
    em = mogem.GaussianMixture(3, random_state=1, missing="em").fit(iris)
    for name in ("weights_", "means_", "covariances_"):
        assert getattr(em, name).tobytes() == getattr(plain, name).tobytes(), name
    assert em.impute(iris).tobytes() == iris.tobytes()


@pytest.mark.parametrize("kind", ["full", "tied", "diag", "spherical"])
def test_predictions_and_impute_use_the_observed_values(iris, kind):
    holed = with_holes(iris, 0.2, 3)
    model = mogem.GaussianMixture(2, covariance_type=kind, missing="em", random_state=0).fit(holed)
    covariances = {"full": lambda k: model.covariances_[k], "tied": lambda k: model.covariances_,
                   "diag": lambda k: np.diag(model.covariances_[k]),
                   "spherical": lambda k: model.covariances_[k] * np.eye(4)}[kind]
    proba, scores, filled = model.predict_proba(holed), model.score_samples(holed), model.impute(holed)
    assert np.array_equal(model.predict(holed), np.argmax(proba, axis=1))
    observed = ~np.isnan(holed)
    assert np.array_equal(filled[observed], holed[observed]) and np.isfinite(filled).all()
    for i in np.flatnonzero(~observed.all(axis=1))[:12]:
        o, m = observed[i], ~observed[i]
        densities, conditional = [], []
        for k in range(2):
            S, mu = covariances(k), model.means_[k]
            densities.append(model.weights_[k] * multivariate_normal(mu[o], S[np.ix_(o, o)]).pdf(holed[i, o]))
            regression = S[np.ix_(m, o)] @ np.linalg.inv(S[np.ix_(o, o)])
            conditional.append(mu[m] + regression @ (holed[i, o] - mu[o]))
        posterior = np.array(densities) / sum(densities)
        np.testing.assert_allclose(proba[i], posterior, rtol=1e-9, atol=1e-12)
        np.testing.assert_allclose(scores[i], np.log(sum(densities)), rtol=1e-9)
        np.testing.assert_allclose(filled[i, m], posterior @ np.array(conditional), rtol=1e-9, atol=1e-12)


def test_select_takes_missing(iris):
    table, best = mogem.select(with_holes(iris, 0.1, 5), n_components=range(1, 3), covariance_types="diag",
                               missing="em", random_state=0)
    assert not table.failed.any() and best.missing == "em"



@pytest.mark.parametrize("kind", ["full", "diag"])
def test_estimator_with_holes_gives_the_programs_results(iris, kind, tmp_path, mogem_binary):
    from conftest import run_program
    from test_same_bytes import probs_text, program_keys
    holed = with_holes(iris, 0.1, 7)
    params = dict(n_components=3, covariance_type=kind, missing="em")
    base = run_program(mogem_binary, tmp_path, holed, dict(program_keys(params), missing_values="em"))
    estimator = mogem.GaussianMixture(random_state=1, **params).fit(holed)
    assert np.array_equal(estimator.labels_ + 1, np.loadtxt(f"{base}.labels", dtype=int))
    assert probs_text(estimator.predict_proba(holed)) == open(f"{base}.probs").read().splitlines()
    saved = mogem.load(f"{base}.model.json")
    for name in ("weights_", "means_", "covariances_"):
        assert getattr(estimator, name).tobytes() == getattr(saved, name).tobytes(), name
    assert saved.statistics_ == estimator.statistics_
    assert estimator.impute(holed).tobytes() == np.loadtxt(f"{base}.imputed").tobytes()
