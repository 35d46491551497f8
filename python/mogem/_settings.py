"""The estimator's parameters checked and turned into the library's settings (mogem._mogem.Options)."""

import numbers

import numpy as np

from . import _mogem

# The parameter file's settings table (its keys, words, defaults and bounds), from the library.
SETTINGS = {row["key"]: row for row in _mogem.settings_table()}

COVARIANCE_TYPES = {
    "spherical": _mogem.CovarianceKind.scalar,
    "diag": _mogem.CovarianceKind.diagonal,
    "full": _mogem.CovarianceKind.full,
    "tied": _mogem.CovarianceKind.tied,
}
METRICS = {"euclidean": _mogem.Metric.euclidean, "correlation": _mogem.Metric.correlation}
ALGORITHMS = {"em": _mogem.Algorithm.em, "annealing": _mogem.Algorithm.annealing}
_I = _mogem.Initialization
# init_params: scikit-learn's four starts, then the program's. 'kmeans', 'k-means++' and 'random'
# give a whole model (from responsibilities); the others start from means alone, the variances
# derived from them (MEANS_STARTS), so that means_init in their place is the program's means file.
INITS = {"kmeans": _I.kmeans, "k-means++": _I.kmeans_plus_plus, "random": _I.random_responsibilities,
         "random_from_data": _I.random_from_data,
         **{w: getattr(_I, w) for w in SETTINGS["init_method"]["words"] if w not in ("file", "model")}}
MEANS_STARTS = {name: init for name, init in INITS.items() if name not in ("kmeans", "k-means++", "random")}
CRITERIA = {w: getattr(_mogem.Criterion, w) for w in SETTINGS["select_criterion"]["words"]}
# missing: the program's words for NaN in the data (missing_values).
MISSING = {w: getattr(_mogem.MissingValues, w) for w in SETTINGS["missing_values"]["words"]}
_INT32_MAX = 2**31 - 1
KMEANS_TOL = 1e-4


def one_of(name, value, accepted):
    if not isinstance(value, str) or value not in accepted:
        names = ", ".join(repr(a) for a in accepted)
        raise ValueError(f"{name} must be one of {names}; got {value!r}")
    return accepted[value]


def whole(name, value, least):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral) or value < least:
        raise ValueError(f"{name} must be an integer of at least {least}; got {value!r}")
    if value > _INT32_MAX:
        raise ValueError(f"{name} must be at most {_INT32_MAX}; got {value!r}")
    return int(value)


def real(name, value, least=None, above=None, below=None):
    ok = isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_)) and np.isfinite(value)
    ok = ok and (least is None or value >= least) and (above is None or value > above)
    ok = ok and (below is None or value < below)
    if not ok:
        bounds = []
        if least is not None:
            bounds.append(f"at least {least}")
        if above is not None:
            bounds.append(f"above {above}")
        if below is not None:
            bounds.append(f"below {below}")
        text = (" " + " and ".join(bounds)) if bounds else ""
        raise ValueError(f"{name} must be a finite number{text}; got {value!r}")
    return float(value)


def seed_of(random_state):
    """The library's 32-bit seed of a fit, as scikit-learn's check_random_state reads random_state:
    None draws it from NumPy's global generator, a RandomState draws it from that generator, an
    int is the seed itself (the same fit every time, the program's random_seed)."""
    if random_state is None:
        random_state = np.random.mtrand._rand
    if isinstance(random_state, np.random.RandomState):
        return int(random_state.randint(1, _INT32_MAX))
    if isinstance(random_state, (bool, np.bool_)) or not isinstance(random_state, numbers.Integral):
        raise ValueError(f"random_state must be None, an integer or a numpy RandomState; got {random_state!r}")
    if not -_INT32_MAX <= random_state <= _INT32_MAX:
        raise ValueError(f"random_state must lie within +-{_INT32_MAX}; got {random_state!r}")
    return int(random_state)


def options_of(est, n_features):
    """The Options of a fit with the estimator's parameters (the start: init_params alone; the fit
    puts the *_init arrays and a warm start in); raises ValueError naming the parameter."""
    o = _mogem.Options()
    o.classes = whole("n_components", est.n_components, 1)
    o.covariance = one_of("covariance_type", est.covariance_type, COVARIANCE_TYPES)
    o.stop = _mogem.StopRule.loglik
    o.tol = real("tol", est.tol, least=SETTINGS["tol"]["least"])
    o.reg_covar = real("reg_covar", est.reg_covar, least=SETTINGS["reg_covar"]["least"])
    o.variance_floor = real("variance_floor", est.variance_floor, least=SETTINGS["variance_floor"]["least"])
    o.max_iterations = whole("max_iter", est.max_iter, 0)
    o.restarts = whole("n_init", est.n_init, 1)
    o.distance = one_of("metric", est.metric, METRICS)
    for name in ("center", "warm_start"):
        if not isinstance(getattr(est, name), (bool, np.bool_)):
            raise ValueError(f"{name} must be True or False; got {getattr(est, name)!r}")
    o.center = bool(est.center)
    o.method = one_of("algorithm", est.algorithm, ALGORITHMS)
    o.schedule_scalar = real("schedule_scalar", est.schedule_scalar, above=0.0)
    o.init_temp = real("init_temp", est.init_temp, above=0.0)
    if not isinstance(est.verbose, (bool, np.bool_)):  # True prints as 1, as in scikit-learn
        whole("verbose", est.verbose, 0)
    whole("verbose_interval", est.verbose_interval, 1)
    if est.n_threads is not None:
        o.threads = whole("n_threads", est.n_threads, 1)
    o.init = one_of("init_params", est.init_params, INITS)
    # The k-means start stops as scikit-learn's KMeans does (its tol, 1e-4 of the mean feature
    # variance), not only when no row changes class as the program's default does.
    o.kmeans_tol = KMEANS_TOL
    if est.init_params == "random_sample":
        if est.init_samples is None:
            raise ValueError("init_params='random_sample' averages init_samples random points per mean; set "
                             "init_samples (an integer of at least 1)")
        o.samples = whole("init_samples", est.init_samples, 1)
    if o.restarts > 1 and not _mogem.is_random(o.init):
        raise ValueError(f"n_init={est.n_init} needs a random start: init_params={est.init_params!r} gives the same "
                         "fit each time")
    o.random_seed = seed_of(est.random_state)
    o.missing = missing_of(est)
    return o


def missing_of(est):
    """The library's MissingValues of the estimator's ``missing``; ValueError for another word."""
    return one_of("missing", est.missing, MISSING)


def _array(name, value, shape):
    """value as a float64 array of this shape, or ValueError in scikit-learn's words."""
    try:
        array = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"The parameter '{name}' must be an array of numbers; got {value!r}") from None
    if array.shape != shape:
        raise ValueError(f"The parameter '{name}' should have the shape of {shape}, but got {array.shape}")
    if not np.isfinite(array).all():
        raise ValueError(f"The parameter '{name}' must hold finite numbers only")
    return array


def checked_weights(weights, n_components):
    """weights_init checked as scikit-learn checks it: shape, range [0, 1], sum 1."""
    weights = _array("weights", weights, (n_components,))
    if (weights < 0.0).any() or (weights > 1.0).any():
        raise ValueError("The parameter 'weights' should be in the range [0, 1], but got max value "
                         f"{np.min(weights):.5f}, min value {np.max(weights):.5f}")
    if not np.allclose(np.abs(1.0 - np.sum(weights)), 0.0):
        raise ValueError(f"The parameter 'weights' should be normalized, but got sum(weights) = {np.sum(weights):.5f}")
    return weights


def checked_means(means, n_components, n_features):
    return _array("means", means, (n_components, n_features))


def covariances_of_precisions(precisions, kind, n_components, n_features):
    """precisions_init checked as scikit-learn checks it (shape of the kind; positive, or symmetric
    positive-definite matrices), and the covariances they are the inverses of."""
    shape = {"full": (n_components, n_features, n_features), "tied": (n_features, n_features),
             "diag": (n_components, n_features), "spherical": (n_components,)}[kind]
    precisions = _array(f"{kind} precision", precisions, shape)
    if kind in ("diag", "spherical"):
        if (precisions <= 0.0).any():
            raise ValueError(f"'{kind} precision' should be positive")
        return 1.0 / precisions
    matrices = precisions.reshape(-1, n_features, n_features)
    for p in matrices:
        if not (np.allclose(p, p.T) and (np.linalg.eigvalsh(p) > 0.0).all()):
            raise ValueError(f"'{kind} precision' should be symmetric, positive-definite")
    return np.linalg.inv(matrices).reshape(shape)
