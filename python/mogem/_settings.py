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
# The initializations of init_method that need no file (a means file and a saved model are the
# program's; an array of means stands for them here).
INITS = {w: getattr(_mogem.Initialization, w) for w in SETTINGS["init_method"]["words"] if w not in ("file", "model")}
RANDOM_INITS = tuple(w for w in INITS if w.startswith("random_"))
CRITERIA = {w: getattr(_mogem.Criterion, w) for w in SETTINGS["select_criterion"]["words"]}
# The seed taken when random_state is None: the library's default, so that an estimator
# without one gives the same fit every time.
DEFAULT_SEED = int(SETTINGS["random_seed"]["default"])
_INT32_MAX = 2**31 - 1


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
    """The library's 32-bit seed: None gives DEFAULT_SEED, an int itself, a RandomState a draw."""
    if random_state is None:
        return DEFAULT_SEED
    if isinstance(random_state, np.random.RandomState):
        return int(random_state.randint(1, _INT32_MAX))
    if isinstance(random_state, (bool, np.bool_)) or not isinstance(random_state, numbers.Integral):
        raise ValueError(f"random_state must be None, an integer or a numpy RandomState; got {random_state!r}")
    if not -_INT32_MAX <= random_state <= _INT32_MAX:
        raise ValueError(f"random_state must lie within +-{_INT32_MAX}; got {random_state!r}")
    return int(random_state)


def options_of(est, n_features):
    """The Options of a fit with the estimator's parameters; raises ValueError naming the parameter."""
    o = _mogem.Options()
    o.classes = whole("n_components", est.n_components, 1)
    o.covariance = one_of("covariance_type", est.covariance_type, COVARIANCE_TYPES)
    o.convergence_threshold = real("tol", est.tol, least=SETTINGS["convergence_threshold"]["least"])
    o.reg_covar = real("reg_covar", est.reg_covar, least=SETTINGS["reg_covar"]["least"])
    o.max_iterations = whole("max_iter", est.max_iter, 0)
    o.restarts = whole("n_init", est.n_init, 1)
    o.distance = one_of("metric", est.metric, METRICS)
    if not isinstance(est.center, (bool, np.bool_)):
        raise ValueError(f"center must be True or False; got {est.center!r}")
    o.center = bool(est.center)
    o.method = one_of("algorithm", est.algorithm, ALGORITHMS)
    o.schedule_scalar = real("schedule_scalar", est.schedule_scalar, above=0.0)
    o.init_temp = real("init_temp", est.init_temp, above=0.0)
    o.random_seed = seed_of(est.random_state)
    if est.n_threads is not None:
        o.threads = whole("n_threads", est.n_threads, 1)
    init = est.init
    if isinstance(init, str):
        o.init = one_of("init", init, INITS)
        if init == "random_sample":
            if est.init_samples is None:
                raise ValueError("init='random_sample' averages init_samples random points per mean; set init_samples "
                                 "(an integer of at least 1)")
            o.samples = whole("init_samples", est.init_samples, 1)
        if o.restarts > 1 and init not in RANDOM_INITS:
            raise ValueError(f"n_init={est.n_init} needs a random init (one of "
                             f"{', '.join(repr(r) for r in RANDOM_INITS)}): init={init!r} gives the same fit each time")
    else:
        means = np.asarray(init, dtype=np.float64)
        if means.shape != (o.classes, n_features):
            raise ValueError(f"init as an array of means must have shape (n_components, n_features) = "
                             f"({o.classes}, {n_features}); got shape {means.shape}")
        if not np.all(np.isfinite(means)):
            raise ValueError("init as an array of means must hold finite numbers only")
        if o.restarts > 1:
            raise ValueError(f"n_init={est.n_init} needs a random init: an array of means gives the same fit each time")
        o.init = _mogem.Initialization.given_means
        o.initial_means = means.ravel().tolist()
    return o
