"""mogem.GaussianMixture: scikit-learn's GaussianMixture over the mogem engine."""

import copy
import math
import os
import time
import warnings

import numpy as np

from . import _mogem
from ._processes import process_group, shared_rows, together
from ._base import BaseEstimator, ConvergenceWarning, DensityMixin, check_is_fitted, validate_rows
from ._settings import (COVARIANCE_TYPES, MEANS_STARTS, checked_means, checked_weights, covariances_of_precisions,
                        missing_of, options_of)

FitError = _mogem.FitError


class MogemWarning(UserWarning):
    """A notice of the engine (the fit goes on)."""


_KIND_NAMES = {kind: name for name, kind in COVARIANCE_TYPES.items()}
# The library's failures name its options fields; the estimator's parameters in their place.
_PARAMETER_WORDS = (
    ("fewer classes", "fewer components (n_components)"),
    ("the diagonal kind", "covariance_type='diag'"),
    ("another init or random_seed", "another init_params or random_state"),
    ("fit in place (fit_in_place), with fewer rows, or over several processes", "fit fewer rows"),
)


def in_parameter_words(message):
    """An engine's failure message with the estimator's parameter names for the options fields."""
    for library, estimator in _PARAMETER_WORDS:
        message = message.replace(library, estimator)
    return message


# scikit-learn's words for a fit whose covariances cannot be factorised, first in such failures.
ILL_DEFINED = ("Fitting the mixture model failed because some components have ill-defined empirical covariance (for "
               "instance caused by singleton or collapsed samples). Try to decrease the number of components, or "
               "increase reg_covar.")


def _failure_in_parameter_words(e):
    text = in_parameter_words(str(e))
    if "memory" not in text:
        text = ILL_DEFINED + "\n" + text
    raised = FitError(text)
    raised.kind = e.kind
    return raised


def call_engine(call, *args):
    """Calls the engine, its FitError in the estimator's parameter names."""
    try:
        return call(*args)
    except FitError as e:
        raise _failure_in_parameter_words(e) from None


def run_engine(call, *args):
    """Calls the engine, its warnings turned into MogemWarning and its FitError in the
    estimator's parameter names."""
    *result, notices = call_engine(call, *args)
    for notice in notices:
        warnings.warn(notice, MogemWarning, stacklevel=3)
    return result


class GaussianMixture(DensityMixin, BaseEstimator):
    """A mixture of Gaussians fitted by EM with mogem's engine: scikit-learn's
    ``sklearn.mixture.GaussianMixture`` (its parameters, defaults, attributes and methods), plus
    mogem's own keyword arguments after them.

    The same data and parameters with an int ``random_state`` give the same bits on every run and
    for any ``n_threads``, and the same model as the ``mogem`` program with the matching parameter
    file.

    Parameters (scikit-learn's)
    ---------------------------
    n_components : int, default=1
    covariance_type : {'full', 'tied', 'diag', 'spherical'}, default='full'
    tol : float, default=1e-3
        EM stops when the lower bound (the mean log-likelihood per row of the E-step) changes by
        less than this between two steps.
    reg_covar : float, default=1e-6
        Added to every variance (every covariance's diagonal) after each update.
    max_iter : int, default=100
        The EM step budget; 0 keeps the start (no ConvergenceWarning then).
    n_init : int, default=1
        Fits from this many starts, the one with the highest log-likelihood kept.
    init_params : str, default='kmeans'
        scikit-learn's 'kmeans', 'k-means++', 'random' (random responsibilities) and
        'random_from_data' give a whole starting model ('kmeans': k-means++ centres, then Lloyd
        iterations until the centres move less than 1e-4 of the mean feature variance, as
        scikit-learn's KMeans stops); mogem's 'church_means' (the centroid, then
        the points farthest from the means so far), 'random_means', 'random_point',
        'random_range' and 'random_sample' (with ``init_samples``) give starting means, the
        variances derived from them.
    weights_init, means_init, precisions_init : array-like, default=None
        Take the place of the start's weights, means and precisions (the inverse covariances, in
        the kind's shape), checked with scikit-learn's shapes and messages. Under the correlation
        metric (or ``center``) they describe the rows as the fit sees them.
    random_state : int, RandomState or None, default=None
        Seeds the random starts and ``sample``: None draws from NumPy's global generator, a
        RandomState from itself, an int gives the same fit (and draws) every time.
    warm_start : bool, default=False
        Each fit after the first continues from the last model (``n_init`` ignored), its first
        step's change taken from the last ``lower_bound_``.
    verbose : int, default=0
        1 prints each start and every ``verbose_interval``-th step, 2 the time and the change of
        the lower bound as well.
    verbose_interval : int, default=10

    Parameters (mogem's)
    --------------------
    init_samples : int, default=None
        For ``init_params='random_sample'``: the points averaged per mean.
    metric : {'euclidean', 'correlation'}, default='euclidean'
        'correlation' scales data rows and means to unit length for the whole fit.
    center : bool, default=False
        Subtract each feature's mean first (before any scaling).
    algorithm : {'em', 'annealing'}, default='em'
        Plain EM, or annealing EM: one component at ``init_temp``, cooled by ``schedule_scalar``
        per stage, components split until ``n_components`` are reached at temperature 1.
    schedule_scalar : float, default=0.9
    init_temp : float, default=10.0
    variance_floor : float, default=0.0
        Every variance is held at or above this after each update (a warning tells how many
        were); 0 keeps scikit-learn's arithmetic.
    n_threads : int or None, default=None
        At most this many threads; None uses every core the process may use.
    comm : mpi4py communicator or None, default=None
        Fit over the processes of this communicator (``mpirun -np P python script.py``): each
        process passes its own rows (the processes' rows in rank order are the data), and every
        process gets the model one process gets on all the rows, bit for bit; ``labels_`` are
        its own rows'. Needs mpi4py. Copies and ``sklearn.base.clone`` share the communicator;
        an estimator with one cannot be pickled (``set_params(comm=None)`` first).
    missing : {'refuse', 'em'}, default='refuse'
        What NaN in X means. 'refuse': a ValueError, as scikit-learn's class raises. 'em': a
        missing value; the fit is EM on each row's observed values (euclidean metric, plain EM;
        a row or a feature with no observed value is refused), predict, predict_proba,
        score_samples, score, bic and aic use each row's observed values, and ``impute`` fills
        the missing values in.

    Attributes
    ----------
    weights_, means_, covariances_, precisions_, precisions_cholesky_ : ndarray
        In scikit-learn's shapes for each kind; the first three are read-only views of the
        engine's model.
    converged_ : bool
    n_iter_ : int
    lower_bound_ : float
        The mean log-likelihood per row of the last E-step (of the model before the last update).
    n_features_in_ : int
    feature_names_in_ : ndarray of str (when X has string column names)
    labels_ : ndarray of shape (n_samples,)
        Each training row's component from the E-step before the last update (the ``mogem``
        program's labels; ``predict`` gives the final model's).
    statistics_ : dict
        Log-likelihood, BIC, AIC, ICL, entropy, free parameters and variances held at the floor
        of the training rows under the final model.
    restarts_ : list of dict
        Every start of the fit: its seed, log-likelihood, steps, and failure if it failed.
    """

    def __init__(self, n_components=1, *, covariance_type="full", tol=1e-3, reg_covar=1e-6, max_iter=100, n_init=1,
                 init_params="kmeans", weights_init=None, means_init=None, precisions_init=None, random_state=None,
                 warm_start=False, verbose=0, verbose_interval=10, init_samples=None, metric="euclidean",
                 center=False, algorithm="em", schedule_scalar=0.9, init_temp=10.0, variance_floor=0.0,
                 n_threads=None, comm=None, missing="refuse"):
        self.n_components = n_components
        self.covariance_type = covariance_type
        self.tol = tol
        self.reg_covar = reg_covar
        self.max_iter = max_iter
        self.n_init = n_init
        self.init_params = init_params
        self.weights_init = weights_init
        self.means_init = means_init
        self.precisions_init = precisions_init
        self.random_state = random_state
        self.warm_start = warm_start
        self.verbose = verbose
        self.verbose_interval = verbose_interval
        self.init_samples = init_samples
        self.metric = metric
        self.center = center
        self.algorithm = algorithm
        self.schedule_scalar = schedule_scalar
        self.init_temp = init_temp
        self.variance_floor = variance_floor
        self.n_threads = n_threads
        self.comm = comm
        self.missing = missing

    # -- copies and pickles ------------------------------------------------------------------
    # A communicator names a group of running processes: a copy of an estimator (and a clone,
    # which deep-copies each parameter) shares it, and a pickle cannot carry it.

    def get_params(self, deep=True):
        _shared_when_copied(self.comm)
        return super().get_params(deep=deep)

    def __deepcopy__(self, memo):
        if self.comm is not None:
            memo[id(self.comm)] = self.comm
        copied = type(self).__new__(type(self))
        memo[id(self)] = copied
        copied.__dict__.update(copy.deepcopy(self.__dict__, memo))
        return copied

    def __getstate__(self):
        if self.comm is not None:
            raise TypeError("a GaussianMixture with comm= cannot be pickled: an MPI communicator belongs to the "
                            "running processes; call set_params(comm=None) before pickling (and "
                            "set_params(comm=...) after loading to fit over processes again)")
        # object.__getstate__ is new in Python 3.11; scikit-learn's BaseEstimator has its own.
        state = getattr(super(), "__getstate__", None)
        return state() if state else self.__dict__.copy()

    # -- fitting ---------------------------------------------------------------------------

    def fit(self, X, y=None):
        """Fits the mixture to the rows of X (y is ignored); returns self."""
        self._fit(X)
        return self

    def fit_predict(self, X, y=None):
        """Fits, then gives each row's most probable component under the final model: the same as
        ``fit(X).predict(X)``."""
        result = self._fit(X)
        # The fit's final posteriors are those predict computes; ties go to the lower component.
        return np.argmax(result.posteriors, axis=0)

    def _rows_and_settings(self, X):
        """The training rows checked (validate_rows) and the library's settings for them; as
        scikit-learn, fewer rows than components is refused."""
        # With comm, rows refused on one process are refused on every process.
        allow_nan = missing_of(self) == _mogem.MissingValues.em
        X = together(self.comm, lambda: validate_rows(self, X, reset=True, allow_nan=allow_nan))
        settings = options_of(self, X.shape[1])
        rows = X.shape[0] if self.comm is None else shared_rows(self.comm, X, settings)
        if rows < settings.classes:
            raise ValueError(f"Expected n_samples >= n_components but got n_components = {settings.classes}, "
                             f"n_samples = {rows}")
        return X, settings

    def _given_start(self, n_features):
        """The *_init arrays checked, flat in the model's order (None where not given)."""
        K = self.n_components
        weights = None if self.weights_init is None else checked_weights(self.weights_init, K)
        means = None if self.means_init is None else checked_means(self.means_init, K, n_features)
        covariances = None
        if self.precisions_init is not None:
            covariances = covariances_of_precisions(self.precisions_init, self.covariance_type, K, n_features)
        return [None if a is None else a.ravel().tolist() for a in (weights, means, covariances)]

    def _fit(self, X):
        X, settings = self._rows_and_settings(X)
        weights, means, covariances = self._given_start(X.shape[1])
        warm = self.warm_start and hasattr(self, "_model")
        trace = _Trace(self)
        # The starts run one by one, as scikit-learn's, the one of the highest lower bound kept
        # (ties: the first); one that fails numerically is recorded and the others go on.
        best, failures, records = None, [], []
        for start in range(1, 2 if warm else settings.restarts + 1):
            one = copy.copy(settings)
            one.restarts = 1
            one.random_seed = _mogem.restart_seed(settings.random_seed, start)
            try:
                result = trace.run(start, X, self._started(X, one, warm, weights, means, covariances), self.comm)
            except FitError as failure:
                failures.append(failure)
                records.append(dict(restart=start, seed=one.random_seed, failed=True, failure=str(failure),
                                    log_likelihood=0.0, steps=0, converged=False))
                continue
            records.append(dict(result.restarts[0], restart=start))
            if best is None or trace.objective.get(start, -math.inf) > trace.objective.get(best[0], -math.inf):
                best = (start, result)
        if best is None:
            raise failures[0]
        start, result = best
        self._take_model(result.model, result, trace.objective.get(start, -math.inf))
        self.restarts_ = records
        if self.verbose:
            print(_mogem.fit_report(result, settings.max_iterations), end="")
        # The command line's words after scikit-learn's.
        if not result.model.converged and settings.max_iterations > 0:
            warnings.warn(f"Initialization {len(records)} did not converge. Try different init parameters, or "
                          "increase max_iter, tol or check for degenerate data. " +
                          _mogem.budget_warning(result.model, settings.max_iterations),
                          ConvergenceWarning, stacklevel=3)
        if _mogem.floor_warning(result.model):
            warnings.warn(_mogem.floor_warning(result.model), MogemWarning, stacklevel=3)
        return result

    def _started(self, X, settings, warm, weights, means, covariances):
        """settings with the start of one fit: the last model (a warm start, its first change taken
        from the last lower bound), the given means in place of a start of means (the program's
        means file), a whole model with the given arrays in place of the start's, or init_params'
        own start."""
        if warm:
            settings.init = _mogem.Initialization.saved_model
            settings.start_model = self._model
            settings.start_objective = self.lower_bound_
        elif weights is None and covariances is None and means is not None and settings.init in MEANS_STARTS.values():
            settings.init = _mogem.Initialization.given_means
            settings.initial_means = means
        elif weights is not None or means is not None or covariances is not None:
            settings = _with_start(X, settings, weights, means, covariances, self.comm)
        return settings

    def _take_model(self, fitted, result=None, lower_bound=None):
        """The model's attributes; with the fit result (a fit, not a loaded model) the training
        rows' labels_, and the feature names of a fit go into the model (those of a loaded model
        come out of it)."""
        self._model = fitted
        if result is not None and hasattr(self, "feature_names_in_"):
            fitted.feature_names = [str(name) for name in self.feature_names_in_]  # kept by save
        elif result is None and fitted.feature_names:
            self.feature_names_in_ = np.asarray(fitted.feature_names, dtype=object)
        self.weights_ = fitted.weights
        self.means_ = fitted.means
        self.covariances_ = fitted.covariances
        self.precisions_cholesky_ = precisions_cholesky(self.covariances_, fitted.covariance)
        self.precisions_ = precisions(self.precisions_cholesky_, fitted.covariance)
        self.converged_ = bool(fitted.converged)
        self.n_iter_ = int(fitted.steps)
        self.statistics_ = fitted.statistics
        self.lower_bound_ = self.statistics_["log_likelihood_per_point"] if lower_bound is None else lower_bound
        self.restarts_ = []
        if result is not None:
            self.labels_ = result.labels
        self.n_features_in_ = int(fitted.features)

    # -- using the model -------------------------------------------------------------------

    def _rows(self, X):
        check_is_fitted(self)
        return validate_rows(self, X, reset=False, allow_nan=missing_of(self) == _mogem.MissingValues.em)

    def _threads(self):
        return 0 if self.n_threads is None else int(self.n_threads)

    def predict(self, X):
        """Each row's most probable component (ties to the lower one)."""
        X = self._rows(X)
        _, labels, _ = call_engine(_mogem.predict_all, self._model, X, self._threads(), missing_of(self))
        return labels

    def predict_proba(self, X):
        """Each row's posterior probability of each component, shape (n_samples, n_components)."""
        X = self._rows(X)
        posteriors, _, _ = call_engine(_mogem.predict_all, self._model, X, self._threads(), missing_of(self))
        return posteriors.T

    def score_samples(self, X):
        """The log density of each row under the mixture."""
        X = self._rows(X)
        return call_engine(_mogem.score_samples, self._model, X, self._threads(), missing_of(self))

    def impute(self, X):
        """X with each NaN replaced by its expectation under the mixture given the row's observed
        values (the components' conditional means weighted by the row's posteriors from its
        observed values); observed values are returned unchanged. NaN is a missing value here
        whatever ``missing`` is: any fitted mixture fills in."""
        check_is_fitted(self)
        X = validate_rows(self, X, reset=False, allow_nan=True)
        return call_engine(_mogem.impute, self._model, X, self._threads())

    def _log_likelihood(self, X):
        scores = self.score_samples(X)
        # Added in row order, as the engine's statistics: on the training rows the bits are theirs.
        return _mogem.ordered_sum(scores), scores.shape[0]

    def score(self, X, y=None):
        """The mean log density of the rows."""
        total, n = self._log_likelihood(X)
        return total / n

    def _n_parameters(self):
        return _mogem.free_parameters(self._model.covariance, self._model.classes, self._model.features)

    def bic(self, X):
        """-2 log-likelihood + (free parameters) log(n_samples): lower is better."""
        total, n = self._log_likelihood(X)
        return -2.0 * total + self._n_parameters() * math.log(n)

    def aic(self, X):
        """-2 log-likelihood + 2 (free parameters): lower is better."""
        total, _ = self._log_likelihood(X)
        return -2.0 * total + 2.0 * self._n_parameters()

    def sample(self, n_samples=1):
        """Draws n_samples rows from the mixture with random_state, as scikit-learn draws them (the
        same draws for the same model and state); returns (X, y), y each row's component. Centred
        models get their centre back."""
        check_is_fitted(self)
        if isinstance(n_samples, bool) or not isinstance(n_samples, (int, np.integer)) or n_samples < 1:
            raise ValueError(f"Invalid value for 'n_samples': {n_samples!r} . The sampling requires at least one "
                             "sample.")
        rng = self.random_state
        if rng is None or isinstance(rng, (int, np.integer)):
            rng = np.random.mtrand._rand if rng is None else np.random.RandomState(rng)
        counts = rng.multinomial(n_samples, self.weights_ / self.weights_.sum())
        F = self.n_features_in_
        kind = self._model.covariance
        parts = []
        for k, count in enumerate(counts):
            if kind == _mogem.CovarianceKind.full:
                parts.append(rng.multivariate_normal(self.means_[k], self.covariances_[k], int(count)))
            elif kind == _mogem.CovarianceKind.tied:
                parts.append(rng.multivariate_normal(self.means_[k], self.covariances_, int(count)))
            else:
                parts.append(self.means_[k] + rng.standard_normal(size=(count, F)) * np.sqrt(self.covariances_[k]))
        X = np.vstack(parts)
        if self._model.centre.size:
            X = X + self._model.centre
        return X, np.repeat(np.arange(len(counts)), counts)

    def _more_tags(self):
        return {"allow_nan": self.missing == "em"}

    # -- saved models ----------------------------------------------------------------------

    def save(self, path):
        """Writes the fitted model as the ``mogem`` program's model file (JSON), whole or not at all."""
        check_is_fitted(self)
        _mogem.write_model_file(os.fspath(path), self._model)


def _shared_when_copied(comm):
    """Makes copy.deepcopy hand back mpi4py communicators of comm's type themselves, as
    sklearn.base.clone needs (it deep-copies each parameter and checks the constructor kept it);
    mpi4py refuses to copy them. None and other objects are left alone."""
    kind = type(comm)
    if comm is not None and kind.__module__ == "mpi4py.MPI":
        # The dispatch table copy.deepcopy consults first; scikit-learn before 1.3 has no clone hook.
        copy._deepcopy_dispatch.setdefault(kind, lambda communicator, memo: communicator)


def _engine_fit(X, settings, on_step=None, processes=None):
    """The engine's fit of X with these settings: (result, notices). processes: the mpi4py
    communicator the rows are shared over, X this process's share (None: this process holds them
    all)."""
    with process_group(processes) as group:
        return _mogem.fit(X, settings, on_step, group)


def _with_start(X, settings, weights, means, covariances, processes):
    """settings starting from a whole model: the start of init_params (its means replaced by the
    given means first where it starts from means, or where every array is given and the start
    would be replaced whole), with the given arrays in its place."""
    first = copy.copy(settings)
    first.max_iterations = 0
    whole = weights is not None and covariances is not None
    if means is not None and (whole or settings.init in MEANS_STARTS.values()):
        first.init = _mogem.Initialization.given_means
        first.initial_means = means
    (result,) = run_engine(_engine_fit, X, first, None, processes)
    settings.init = _mogem.Initialization.saved_model
    settings.start_model = result.model.replaced(weights, means, covariances)
    return settings


class _Trace:
    """What the steps of the fit's starts told (each start's last lower bound, by start number), and
    the lines scikit-learn prints with verbose."""

    def __init__(self, estimator):
        self.verbose, self.interval = estimator.verbose, estimator.verbose_interval
        self.objective = {}

    def run(self, start, X, settings, processes):
        """The engine's fit of start number `start`, its steps heard."""
        self.start = start
        self.previous = settings.start_objective
        if self.verbose:
            print(f"Initialization {self.start - 1}")
            self.began = self.lapsed = time.time()
        (result,) = run_engine(_engine_fit, X, settings, self.step, processes)
        if self.verbose:
            converged = bool(result.model.converged)
            if self.verbose == 1:
                print(f"Initialization converged: {converged}")
            else:
                print(f"Initialization converged: {converged}\t time lapse {time.time() - self.began:.5f}s\t "
                      f"ll {self.objective.get(self.start, -math.inf):.5f}")
        return result

    def step(self, restart, step, objective):
        change = objective - self.previous
        self.previous = objective
        self.objective[self.start] = objective
        if self.verbose and step % self.interval == 0:
            if self.verbose == 1:
                print(f"  Iteration {step}")
            else:
                now = time.time()
                print(f"  Iteration {step}\t time lapse {now - self.lapsed:.5f}s\t ll change {change:.5f}")
                self.lapsed = now


def precisions_cholesky(covariances, kind):
    """scikit-learn's precisions_cholesky_ of the covariances of this kind: per matrix the
    transposed inverse of its lower Cholesky factor; 1 / sqrt of each variance otherwise."""
    if kind not in (_mogem.CovarianceKind.full, _mogem.CovarianceKind.tied):
        return 1.0 / np.sqrt(covariances)
    matrices = np.asarray(covariances).reshape(-1, *covariances.shape[-2:])
    identity = np.eye(matrices.shape[-1])
    factors = np.array([np.linalg.solve(np.linalg.cholesky(c), identity).T for c in matrices])
    return factors.reshape(covariances.shape)


def precisions(cholesky, kind):
    """The precisions (inverse covariances) from precisions_cholesky."""
    if kind not in (_mogem.CovarianceKind.full, _mogem.CovarianceKind.tied):
        return cholesky ** 2
    return np.matmul(cholesky, np.swapaxes(cholesky, -1, -2))


def load(path):
    """A fitted GaussianMixture from a model file written by ``save`` or by the ``mogem`` program
    (``model_file``). Its labels_ are not part of the file."""
    fitted = _mogem.read_model_file(os.fspath(path))
    estimator = GaussianMixture(n_components=fitted.classes, covariance_type=_KIND_NAMES[fitted.covariance],
                                metric="correlation" if fitted.distance == _mogem.Metric.correlation else "euclidean",
                                center=bool(fitted.centre.size),
                                algorithm="annealing" if fitted.method == _mogem.Algorithm.annealing else "em")
    estimator._take_model(fitted)
    return estimator
