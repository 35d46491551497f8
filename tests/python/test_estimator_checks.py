"""scikit-learn's own estimator checks, run on mogem.GaussianMixture.

Every check scikit-learn gives a density estimator applies and passes: NOT_APPLICABLE, the one
place for a check that cannot apply by design and its reason, is empty."""

import pytest

sklearn_checks = pytest.importorskip("sklearn.utils.estimator_checks")

import mogem  # noqa: E402

# Checks that cannot apply by design, each with its reason. Everything else must pass.
NOT_APPLICABLE = {}


def _check_name(check):
    return getattr(check, "func", check).__name__


@sklearn_checks.parametrize_with_checks([mogem.GaussianMixture()])
def test_sklearn_estimator_check(estimator, check):
    if _check_name(check) in NOT_APPLICABLE:
        pytest.skip(NOT_APPLICABLE[_check_name(check)])
    check(estimator)
