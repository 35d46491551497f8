"""scikit-learn's own estimator checks, run on mogem.GaussianMixture: every check scikit-learn
gives a density estimator applies and passes."""

import pytest

sklearn_checks = pytest.importorskip("sklearn.utils.estimator_checks")

import mogem  # noqa: E402


@sklearn_checks.parametrize_with_checks([mogem.GaussianMixture()])
def test_sklearn_estimator_check(estimator, check):
    check(estimator)
