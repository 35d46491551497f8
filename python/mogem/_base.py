"""scikit-learn's base classes and input checks when scikit-learn is importable, small stand-ins
with the same behaviour for what the estimator uses when it is not."""

import inspect

import numpy as np

try:
    from sklearn.base import BaseEstimator, DensityMixin
    from sklearn.exceptions import ConvergenceWarning, NotFittedError
    from sklearn.utils.validation import check_is_fitted

    HAVE_SKLEARN = True
except ImportError:  # pragma: no cover - exercised where scikit-learn is missing
    HAVE_SKLEARN = False

    class ConvergenceWarning(UserWarning):
        """The fit ran out of steps before its stop rule was met."""

    class NotFittedError(ValueError, AttributeError):
        """The estimator is used before it was fitted."""

    class DensityMixin:
        _estimator_type = "DensityEstimator"

    class BaseEstimator:
        """get_params and set_params over the parameters of __init__, as scikit-learn's."""

        @classmethod
        def _get_param_names(cls):
            signature = inspect.signature(cls.__init__)
            return sorted(p.name for p in signature.parameters.values() if p.name != "self")

        def get_params(self, deep=True):
            return {name: getattr(self, name) for name in self._get_param_names()}

        def set_params(self, **params):
            valid = self._get_param_names()
            for name, value in params.items():
                if name not in valid:
                    raise ValueError(f"Invalid parameter {name!r} for estimator {type(self).__name__}; "
                                     f"valid parameters are {valid}")
                setattr(self, name, value)
            return self

        def __repr__(self):
            defaults = {p.name: p.default for p in inspect.signature(type(self).__init__).parameters.values()}
            changed = [f"{k}={v!r}" for k, v in self.get_params().items() if not _same(v, defaults.get(k))]
            return f"{type(self).__name__}({', '.join(changed)})"

    def _same(a, b):
        if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
            return False
        return a == b

    def check_is_fitted(estimator):
        if not any(k.endswith("_") and not k.startswith("__") for k in vars(estimator)):
            raise NotFittedError(f"This {type(estimator).__name__} instance is not fitted yet. Call 'fit' with "
                                 "appropriate arguments before using this estimator.")


# What a refusal of NaN adds to scikit-learn's words.
NAN_REMEDY = "mogem fits rows with missing values (NaN) on their observed values with missing='em'."


def validate_rows(estimator, X, reset, allow_nan=False):
    """X as a C-contiguous float64 array of shape (n_samples, n_features): no copy when it is one
    already. Fitting (reset) needs 2 samples and records n_features_in_; later calls must have
    that many features. Raises ValueError for other shapes, infinite values and, unless
    allow_nan, NaN."""
    if HAVE_SKLEARN:
        try:
            return estimator._validate_data(X, dtype=np.float64, order="C", ensure_min_samples=2 if reset else 1,
                                            reset=reset, force_all_finite="allow-nan" if allow_nan else True)
        except ValueError as refused:
            if allow_nan or "contains NaN" not in str(refused):
                raise
            raise ValueError(f"{refused}\n{NAN_REMEDY}") from None
    X = np.asarray(X, dtype=np.float64, order="C")
    if X.ndim != 2:
        raise ValueError(f"Expected a 2-D array of shape (n_samples, n_features), got {X.ndim}-D; reshape your data")
    least = 2 if reset else 1
    if X.shape[0] < least:
        raise ValueError(f"Found array with {X.shape[0]} sample(s) (shape={X.shape}) while a minimum of {least} "
                         "is required")
    if X.shape[1] < 1:
        raise ValueError(f"Found array with 0 feature(s) (shape={X.shape}) while a minimum of 1 is required")
    if allow_nan and np.isinf(X).any():
        raise ValueError("Input X contains infinity; every value must be a finite number or NaN (a missing value)")
    if not allow_nan and not np.isfinite(X).all():
        raise ValueError("Input X contains NaN or infinity; every value must be a finite number\n" + NAN_REMEDY)
    if reset:
        estimator.n_features_in_ = X.shape[1]
    elif X.shape[1] != estimator.n_features_in_:
        raise ValueError(f"X has {X.shape[1]} features, but {type(estimator).__name__} is expecting "
                         f"{estimator.n_features_in_} features as input")
    return X
