"""EM on rows with holes (missing='em') against an independent NumPy/SciPy computation
(tests/tools/holes_reference.py), for every covariance kind: the observed-data log-likelihood
of a fit, of each row and of a saved model, and the model after one EM step, each to 1e-9."""

import json
import pathlib
import subprocess
import sys
import warnings

import numpy as np
import pytest

from conftest import REPOSITORY, run_program

sys.path.insert(0, str(REPOSITORY / "tests" / "tools"))
import holes_reference as reference  # noqa: E402

sklearn_mixture = pytest.importorskip("sklearn.mixture")
KIND_NAMES = {"scalar": "spherical", "diagonal": "diag", "full": "full", "tied": "tied"}


def with_holes(x, share, seed):
    """x with about `share` of its values NaN, completely at random; every row keeps a value."""
    rng = np.random.RandomState(seed)
    holes = rng.rand(*x.shape) < share
    holes[holes.all(axis=1), rng.randint(x.shape[1])] = False
    out = x.copy()
    out[holes] = np.nan
    return out


@pytest.fixture(scope="module")
def holed(mixture):
    return with_holes(mixture[:, :4], 0.2, 3)


def model_of(estimator, kind):
    K, F = estimator.means_.shape
    return estimator.weights_, estimator.means_, reference.class_covariances(kind, estimator.covariances_, K, F)


def test_the_reference_is_the_textbook_em(mixture):
    """Without holes one step is scikit-learn's; with holes the log-likelihood never falls, and
    where EM stops it is stationary: its gradient in the means and covariances vanishes."""
    x = mixture[:, :4]
    for kind in reference.KINDS:
        before = sklearn_mixture.GaussianMixture(3, covariance_type=KIND_NAMES[kind], max_iter=2, random_state=0)
        after = sklearn_mixture.GaussianMixture(3, covariance_type=KIND_NAMES[kind], max_iter=1, warm_start=True,
                                                random_state=0)
        with warnings.catch_warnings():  # the short fits do not converge
            warnings.simplefilter("ignore")
            before.fit(x)
            after.__dict__.update({k: v for k, v in before.__dict__.items() if k.endswith("_")})
            after.fit(x)
        weights, means, full = model_of(before, kind)
        posteriors, _ = reference.e_step(x, weights, means, full)
        for ours, theirs in zip(reference.m_step(x, posteriors, means, full, kind, 1e-6),
                                (after.weights_, after.means_, after.covariances_)):
            np.testing.assert_allclose(ours, theirs, rtol=1e-10, atol=1e-12)

    holed = with_holes(x, 0.3, 5)
    for kind in reference.KINDS:
        start = sklearn_mixture.GaussianMixture(3, covariance_type=KIND_NAMES[kind], random_state=0).fit(x)
        (weights, means, covariances), history = reference.em(holed, start.weights_, start.means_,
                                                              start.covariances_, kind, 1000, reg_covar=0.0, tol=1e-13)
        assert np.all(np.diff(history) >= -1e-9 * abs(history[0])), kind

        def log_likelihood(means, covariances):
            full = reference.class_covariances(kind, covariances, 3, 4)
            return reference.e_step(holed, weights, means, full)[1].sum()

        h, slopes = 1e-5, []
        for k, f, g in [(0, 0, 0), (1, 2, 2), (2, 3, 1), (0, 1, 3)]:
            step = np.zeros_like(means)
            step[k, f] = h
            slopes.append((log_likelihood(means + step, covariances) - log_likelihood(means - step, covariances))
                          / (2 * h))
            # A move within the kind's own parameters: class k's variance, variance f, or entry (f, g).
            change = np.zeros_like(covariances)
            at, mirror = {"scalar": ((k,), (k,)), "diagonal": ((k, f), (k, f)), "full": ((k, f, g), (k, g, f)),
                          "tied": ((f, g), (g, f))}[kind]
            change[at] = change[mirror] = h
            slopes.append((log_likelihood(means, covariances + change) - log_likelihood(means, covariances - change))
                          / (2 * h))
        # A wrong conditional mean or covariance leaves slopes of order 1-100 here.
        assert np.max(np.abs(slopes)) < 1e-3, kind


@pytest.fixture(scope="module")
def mogem_missing():
    mogem = pytest.importorskip("mogem")
    if "missing" not in mogem.GaussianMixture().get_params():
        pytest.skip("this mogem has no missing= keyword")
    return mogem


@pytest.mark.parametrize("kind", reference.KINDS)
def test_fit_with_holes_is_the_reference_em(holed, kind, tmp_path, mogem_missing):
    fitted = mogem_missing.GaussianMixture(3, covariance_type=KIND_NAMES[kind], missing="em", max_iter=5,
                                           random_state=0, n_threads=2)
    with warnings.catch_warnings():  # a short fit may stop at its budget
        warnings.simplefilter("ignore")
        fitted.fit(holed)
    weights, means, full = model_of(fitted, kind)
    posteriors, per_row = reference.e_step(holed, weights, means, full)
    np.testing.assert_allclose(fitted.score_samples(holed), per_row, rtol=1e-9)
    np.testing.assert_allclose(fitted.predict_proba(holed), posteriors, rtol=1e-9, atol=1e-12)
    assert fitted.statistics_["log_likelihood"] == pytest.approx(per_row.sum(), rel=1e-9)

    # One more step from this model.
    expected = reference.m_step(holed, posteriors, means, full, kind, fitted.reg_covar)
    fitted.set_params(warm_start=True, max_iter=1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        fitted.fit(holed)
    for ours, theirs in zip(expected, (fitted.weights_, fitted.means_, fitted.covariances_)):
        np.testing.assert_allclose(theirs, ours, rtol=1e-9, atol=1e-9 * np.abs(ours).max())
    assert fitted.lower_bound_ == pytest.approx(per_row.mean(), rel=1e-9)

    # The saved model, read back by the reference.
    fitted.save(tmp_path / "holes.model.json")
    saved = json.loads((tmp_path / "holes.model.json").read_text())
    assert reference.saved_model_log_likelihood(saved, holed) == \
        pytest.approx(saved["statistics"]["log_likelihood"], rel=1e-9)


def test_programs_model_with_holes_recomputed(holed, tmp_path, mogem_binary):
    """The program's model JSON and summary with missing_values em (centred, diagonal), and the
    recomputing script that the README quotes."""
    base = run_program(mogem_binary, tmp_path, holed, dict(num_clusters=3, em_type="diagonal", center=1,
                                                           missing_values="em", max_em_iterations=50,
                                                           output_summary=1))
    done = subprocess.run([sys.executable, str(REPOSITORY / "tests" / "tools" / "recompute_loglik.py"),
                           str(base.with_suffix(".model.json")), str(tmp_path / "run.txt"),
                           str(base.with_suffix(".summary.json"))], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    summary = json.loads(pathlib.Path(base.with_suffix(".summary.json")).read_text())
    saved = json.loads(base.with_suffix(".model.json").read_text())
    assert reference.saved_model_log_likelihood(saved, holed) == pytest.approx(summary["log_likelihood"], rel=1e-9)
