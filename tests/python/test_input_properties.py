"""Whatever array and parameters mogem.GaussianMixture is given, it answers: a fitted model, a
ValueError or TypeError naming the problem, or mogem.FitError for data it cannot fit (a
covariance that cannot be factorised); never a crash, another exception or a hang."""

import faulthandler
import warnings

import numpy as np
import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings, strategies as st  # noqa: E402
from hypothesis.extra import numpy as hnp  # noqa: E402

import mogem  # noqa: E402

# A value of any kind where a parameter is expected: the right kind, the wrong one, the edges.
ANY = st.one_of(st.none(), st.booleans(), st.integers(-3, 5), st.sampled_from([2**31, 2**64, -2**63]),
                st.floats(allow_nan=True, allow_infinity=True), st.text(max_size=6), st.lists(st.integers(0, 2), max_size=3))


def kinds(*good):
    return st.one_of(st.sampled_from(good), ANY)


# Step budgets and counts stay small where valid, so that every fit is quick; anything else may
# be anything.
PARAMETERS = st.fixed_dictionaries({}, optional={
    "n_components": kinds(1, 2, 3),
    "covariance_type": kinds("diag", "spherical", "full", "tied"),
    "tol": kinds(0.0, 1e-3),
    "reg_covar": kinds(0.0, 1e-6, 1.0),
    "max_iter": kinds(0, 1, 10),
    "n_init": kinds(1, 2),
    "init_params": kinds("kmeans", "k-means++", "random", "random_from_data", "church_means", "random_means",
                         "random_point", "random_range", "random_sample"),
    **{name: st.one_of(st.none(), hnp.arrays(np.float64, hnp.array_shapes(max_dims=3, max_side=3)))
       for name in ("weights_init", "means_init", "precisions_init")},
    "init_samples": kinds(1, 2),
    "variance_floor": kinds(0.0, 1e-3),
    "warm_start": kinds(False, True),
    "random_state": kinds(0, 7),
    "metric": kinds("euclidean", "correlation"),
    "center": kinds(True, False),
    "algorithm": kinds("em", "annealing"),
    "schedule_scalar": kinds(0.5),
    "init_temp": kinds(0.5, 2.0),
    "n_threads": kinds(1, 2),
})

DTYPES = st.sampled_from([np.float64, np.float32, np.int64, np.uint8, np.bool_, np.complex128, np.object_, "U3"])


@st.composite
def arrays(draw):
    dtype = np.dtype(draw(DTYPES))
    shape = draw(hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=6))
    if dtype.kind == "f":
        large = float(np.finfo(dtype).max)
        values = hnp.arrays(dtype, shape, elements=st.one_of(st.floats(-1e3, 1e3, width=dtype.itemsize * 8),
                                                             st.sampled_from([np.nan, np.inf, -np.inf, large])))
    elif dtype == np.object_:
        values = hnp.arrays(dtype, shape, elements=st.one_of(st.floats(-9, 9), st.none(), st.text(max_size=2)))
    else:
        values = hnp.arrays(dtype, shape)
    return draw(values)


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(X=arrays(), parameters=PARAMETERS)
@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # casts to the drawn dtype that overflow
def test_any_input_gives_a_model_or_names_the_problem(X, parameters):
    # A fit that never returns ends the run with the stacks of every thread instead of holding it.
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        answer(X, parameters)
    finally:
        faulthandler.cancel_dump_traceback_later()


def answer(X, parameters):
    estimator = mogem.GaussianMixture(**parameters)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            estimator.fit(X)
        except (ValueError, TypeError) as refusal:
            assert str(refusal)
            return
        except mogem.FitError as failure:
            assert failure.kind in ("numerical_failure", "breakdown"), failure.kind
            return
        labels = estimator.predict(X)
    assert labels.shape == (len(X),)
    assert ((labels >= 0) & (labels < estimator.weights_.shape[0])).all()
    assert np.isfinite(estimator.means_).all()
