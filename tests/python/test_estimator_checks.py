"""scikit-learn's own estimator checks, run on mogem.GaussianMixture with its defaults and with
each kind and kinds of start: every check scikit-learn gives a density estimator applies and
passes."""

import pytest

sklearn_checks = pytest.importorskip("sklearn.utils.estimator_checks")

import mogem  # noqa: E402


@sklearn_checks.parametrize_with_checks([mogem.GaussianMixture()] + [
    mogem.GaussianMixture(covariance_type=kind, init_params=start) for kind, start in
    [("tied", "random"), ("diag", "k-means++"), ("spherical", "random_from_data"), ("full", "church_means")]])
def test_sklearn_estimator_check(estimator, check):
    check(estimator)
