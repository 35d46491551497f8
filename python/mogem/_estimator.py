"""mogem.GaussianMixture: a scikit-learn-style estimator over the mogem engine."""

import math
import os
import warnings

import numpy as np

from . import _mogem
from ._processes import process_group, shared_rows, together
from ._base import BaseEstimator, ConvergenceWarning, DensityMixin, check_is_fitted, validate_rows
from ._settings import COVARIANCE_TYPES, options_of, seed_of

FitError = _mogem.FitError


class MogemWarning(UserWarning):
    """A notice of the engine (the fit goes on)."""


_KIND_NAMES = {kind: name for name, kind in COVARIANCE_TYPES.items()}
# The library's failures name its options fields; the estimator's parameters in their place.
_PARAMETER_WORDS = (
    ("fewer classes", "fewer components (n_components)"),
    ("the diagonal kind", "covariance_type='diag'"),
    ("another init or random_seed", "another init or random_state"),
    ("fit in place (fit_in_place), with fewer rows, or over several processes", "fit fewer rows"),
)


def in_parameter_words(message):
    """An engine's failure message with the estimator's parameter names for the options fields."""
    for library, estimator in _PARAMETER_WORDS:
        message = message.replace(library, estimator)
    return message


def _failure_in_parameter_words(e):
    raised = FitError(in_parameter_words(str(e)))
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


def _engine_fit(X, settings, processes=None):
    """The library's fit of the rows X; over the processes of an mpi4py communicator when
    processes is one (X this process's rows)."""
    with process_group(processes, settings) as group:
        (result,) = run_engine(_mogem.fit, X, settings, group)
    return result


class GaussianMixture(DensityMixin, BaseEstimator):
    """A mixture of Gaussians fitted by EM (or deterministic-annealing EM) with mogem's engine.

    The same data and parameters give the same bits on every run and for any ``n_threads``, and
    the same model as the ``mogem`` program with the matching parameter file.

    Parameters
    ----------
    n_components : int, default=1
        The number of mixture components (classes).
    covariance_type : {'diag', 'spherical', 'full', 'tied'}, default='diag'
        One variance per feature, one variance, or a full covariance matrix per component; or one
        full covariance matrix shared by all components ('tied'; not with annealing).
    tol : float, default=1e-6
        The stop rule: EM stops when the changes of the mixture weights over its last four steps
        sum to less than ``tol``. This is not scikit-learn's rule (a change of the lower bound).
    reg_covar : float, default=1e-6
        Added to every variance (every covariance's diagonal) after each update, as in
        scikit-learn; 0 gives the ``mogem`` program's default arithmetic.
    max_iter : int, default=100
        The EM step budget (per annealing stage).
    n_init : int, default=1
        Fits from this many seeds, the one with the highest log-likelihood kept; above 1 only
        with a random ``init``.
    init : {'church_means', 'random_means', 'random_point', 'random_range', 'random_sample'} or
        array of shape (n_components, n_features), default='church_means'
        The initial means: the centroid, then the points farthest from the means so far; the
        means of a random partition; random data points; random points of the data's bounding
        box; averages of ``init_samples`` random points; or these means, at full precision.
    init_samples : int, default=None
        For ``init='random_sample'``: the points averaged per mean (required there).
    random_state : int, RandomState or None, default=None
        The seed of the random initializations; None takes the engine's default seed 42, so an
        estimator without one still gives the same fit every time.
    metric : {'euclidean', 'correlation'}, default='euclidean'
        'correlation' scales data rows and means to unit length for the whole fit.
    center : bool, default=False
        Subtract each feature's mean first (before any scaling).
    algorithm : {'em', 'annealing'}, default='em'
        Plain EM, or annealing EM: one component at ``init_temp``, cooled by ``schedule_scalar``
        per stage, components split until ``n_components`` are reached at temperature 1.
    schedule_scalar : float, default=0.9
        Annealing: the temperature factor per stage.
    init_temp : float, default=10.0
        Annealing: the starting temperature.
    n_threads : int or None, default=None
        At most this many threads; None uses every core the process may use.
    comm : mpi4py communicator or None, default=None
        Fit over the processes of this communicator (``mpirun -np P python script.py``): each
        process passes its own rows (the processes' rows in rank order are the data), and every
        process gets the model one process gets on all the rows, bit for bit; ``labels_`` are
        its own rows'. Needs mpi4py.

    Attributes
    ----------
    weights_ : ndarray of shape (n_components,)
    means_ : ndarray of shape (n_components, n_features)
    covariances_ : ndarray of shape (n_components,), (n_components, n_features),
        (n_components, n_features, n_features) or (n_features, n_features) for 'spherical',
        'diag', 'full' and 'tied'
    converged_ : bool
    n_iter_ : int
        EM steps run (over all annealing stages).
    lower_bound_ : float
        The training rows' log-likelihood per row under the final model.
    labels_ : ndarray of shape (n_samples,)
        Each training row's component from the E-step before the last update (the ``mogem``
        program's labels; ``predict`` gives the final model's).
    statistics_ : dict
        Log-likelihood, BIC, AIC, ICL, entropy and free parameters of the training rows.
    n_features_in_ : int

    The model arrays are read-only views of the engine's model. Under the correlation metric
    (and with ``center``) the model describes the rows as the fit sees them: centred, at unit
    length.
    """

    def __init__(self, n_components=1, *, covariance_type="diag", tol=1e-6, reg_covar=1e-6, max_iter=100, n_init=1,
                 init="church_means", init_samples=None, random_state=None, metric="euclidean", center=False,
                 algorithm="em", schedule_scalar=0.9, init_temp=10.0, n_threads=None, comm=None):
        self.n_components = n_components
        self.covariance_type = covariance_type
        self.tol = tol
        self.reg_covar = reg_covar
        self.max_iter = max_iter
        self.n_init = n_init
        self.init = init
        self.init_samples = init_samples
        self.random_state = random_state
        self.metric = metric
        self.center = center
        self.algorithm = algorithm
        self.schedule_scalar = schedule_scalar
        self.init_temp = init_temp
        self.n_threads = n_threads
        self.comm = comm

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
        X = together(self.comm, lambda: validate_rows(self, X, reset=True))
        settings = options_of(self, X.shape[1])
        rows = X.shape[0] if self.comm is None else shared_rows(self.comm, X)
        if rows < settings.classes:
            raise ValueError(f"Expected n_samples >= n_components but got n_components = {settings.classes}, "
                             f"n_samples = {rows}")
        return X, settings

    def _fit(self, X):
        X, settings = self._rows_and_settings(X)
        result = _engine_fit(X, settings, processes=self.comm)
        self._take_model(result.model, result)
        if not result.model.converged:
            warnings.warn(f"The fit did not meet its stop rule (tol={self.tol}) within max_iter={self.max_iter} "
                          "steps; raise max_iter or tol", ConvergenceWarning, stacklevel=3)
        return result

    def _take_model(self, fitted, result=None):
        """The model's attributes; with the fit result (a fit, not a loaded model) the training
        rows' labels_ and the restarts_."""
        self._model = fitted
        self.weights_ = fitted.weights
        self.means_ = fitted.means
        self.covariances_ = fitted.covariances
        self.converged_ = bool(fitted.converged)
        self.n_iter_ = int(fitted.steps)
        self.statistics_ = fitted.statistics
        self.lower_bound_ = self.statistics_["log_likelihood_per_point"]
        self.restarts_ = []
        if result is not None:
            self.restarts_ = [dict(r, failure=in_parameter_words(r["failure"])) for r in result.restarts]
            self.labels_ = result.labels
        self.n_features_in_ = int(fitted.features)

    # -- using the model -------------------------------------------------------------------

    def _rows(self, X):
        check_is_fitted(self)
        return validate_rows(self, X, reset=False)

    def _threads(self):
        return 0 if self.n_threads is None else int(self.n_threads)

    def predict(self, X):
        """Each row's most probable component (ties to the lower one)."""
        _, labels, _ = call_engine(_mogem.predict_all, self._model, self._rows(X), self._threads())
        return labels

    def predict_proba(self, X):
        """Each row's posterior probability of each component, shape (n_samples, n_components)."""
        posteriors, _, _ = call_engine(_mogem.predict_all, self._model, self._rows(X), self._threads())
        return posteriors.T

    def score_samples(self, X):
        """The log density of each row under the mixture."""
        return call_engine(_mogem.score_samples, self._model, self._rows(X), self._threads())

    def _log_likelihood(self, X):
        scores = self.score_samples(X)
        # Added in row order, as the engine's statistics: on the training rows the bits are theirs.
        return _mogem.ordered_sum(scores), scores.shape[0]

    def score(self, X, y=None):
        """The mean log density of the rows (on the training rows, ``lower_bound_``)."""
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
        """Draws n_samples rows from the mixture (with random_state's seed); returns (X, y), y each
        row's component. Centred models get their centre back."""
        check_is_fitted(self)
        if isinstance(n_samples, bool) or not isinstance(n_samples, (int, np.integer)) or n_samples < 1:
            raise ValueError(f"n_samples must be an integer of at least 1; got {n_samples!r}")
        rng = np.random.RandomState(seed_of(self.random_state))
        counts = rng.multinomial(n_samples, self.weights_ / self.weights_.sum())
        F = self.n_features_in_
        parts = []
        for k, count in enumerate(counts):
            if self._model.covariance == _mogem.CovarianceKind.full:
                parts.append(rng.multivariate_normal(self.means_[k], self.covariances_[k], count))
            elif self._model.covariance == _mogem.CovarianceKind.tied:
                parts.append(rng.multivariate_normal(self.means_[k], self.covariances_, count))
            else:
                spread = np.sqrt(self.covariances_[k])
                parts.append(self.means_[k] + rng.standard_normal((count, F)) * spread)
        X = np.vstack(parts)
        if self._model.centre.size:
            X = X + self._model.centre
        return X, np.repeat(np.arange(len(counts)), counts)

    # -- saved models ----------------------------------------------------------------------

    def save(self, path):
        """Writes the fitted model as the ``mogem`` program's model file (JSON), whole or not at all."""
        check_is_fitted(self)
        _mogem.write_model_file(os.fspath(path), self._model)


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
