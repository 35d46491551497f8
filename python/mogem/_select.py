"""mogem.select: every component count and covariance type fitted, the best by a criterion kept."""

import math

from . import _mogem
from ._estimator import GaussianMixture, _KIND_NAMES, in_parameter_words, run_engine
from ._settings import COVARIANCE_TYPES, CRITERIA, one_of


def _class_bounds(n_components):
    counts = list(n_components) if not isinstance(n_components, int) else [n_components]
    if not counts or any(isinstance(c, bool) or not isinstance(c, int) or c < 1 for c in counts):
        raise ValueError(f"n_components must be a positive integer or a range of them; got {n_components!r}")
    low, high = min(counts), max(counts)
    if sorted(counts) != list(range(low, high + 1)):
        raise ValueError(f"n_components must be consecutive counts such as range({low}, {high + 1}); got {counts}")
    return low, high


def _table(candidates, chosen):
    rows = []
    for index, c in enumerate(candidates):
        s = c["statistics"]
        # A failed candidate has no criteria: NaN, so that no minimum of a column picks it.
        fitted = {key: math.nan if c["failed"] else s[key] for key in ("bic", "aic", "icl", "log_likelihood")}
        rows.append({
            "n_components": c["classes"],
            "covariance_type": _KIND_NAMES[c["covariance"]],
            **fitted,
            "n_parameters": s["parameters"],
            "n_iter": c["steps"],
            "converged": c["converged"],
            "failed": c["failed"],
            "failure": in_parameter_words(c["failure"]),
            "chosen": index == chosen,
        })
    try:
        import pandas
    except ImportError:
        return rows
    return pandas.DataFrame(rows)


def select(X, n_components=range(1, 10), covariance_types=("spherical", "diag", "tied", "full"), criterion="bic",
           **params):
    """Fits every count of ``n_components`` (consecutive integers) for every covariance type, and
    keeps the candidate with the lowest ``criterion`` ('bic', 'aic' or 'icl'; ties go to fewer
    parameters, then to the earlier candidate). ``params`` are further GaussianMixture
    parameters (n_init, init_params, random_state, reg_covar, ...). Returns (table, estimator): one
    record per candidate, types in the order given and counts ascending (a pandas DataFrame when
    pandas is importable, else a list of dicts; a failed candidate has NaN criteria and its
    ``failure``), and the chosen candidate fitted."""
    low, high = _class_bounds(n_components)
    if isinstance(covariance_types, str):
        covariance_types = (covariance_types,)
    kinds = [one_of("covariance_types", t, COVARIANCE_TYPES) for t in covariance_types]
    if not kinds:
        raise ValueError("covariance_types must name at least one of 'spherical', 'diag', 'full', 'tied'")
    by = one_of("criterion", criterion, CRITERIA)
    given = [name for name in ("weights_init", "means_init", "precisions_init") if params.get(name) is not None]
    if given or params.get("warm_start"):
        raise ValueError(f"{', '.join(given) or 'warm_start'} holds one component count and kind; a selection fits "
                         "several: choose a named init_params")
    # The largest count bounds the rows needed; the engine sets each candidate's own count.
    estimator = GaussianMixture(n_components=high, covariance_type=covariance_types[0], **params)
    X, settings = estimator._rows_and_settings(X)
    candidates, chosen, result = run_engine(_mogem.select, X, settings, low, high, kinds, by)
    estimator.set_params(n_components=candidates[chosen]["classes"],
                         covariance_type=_KIND_NAMES[candidates[chosen]["covariance"]])
    estimator._take_model(result.model, result)
    estimator.restarts_ = [dict(r, failure=in_parameter_words(r["failure"])) for r in result.restarts]
    return _table(candidates, chosen), estimator
