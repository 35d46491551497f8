"""The EM of a Gaussian mixture on rows with missing values (NaN), written from the textbook with
NumPy and SciPy alone, to check mogem's engine against: nothing here comes from mogem's code.

A model is (weights (K,), means (K, F), covariances in its kind's shape: scalar (K,), diagonal
(K, F), full (K, F, F), tied (F, F)), the shapes of a saved model's JSON. Rows are (n, F) with NaN
for each missing value; every row needs at least one observed value.

E-step: class k's density of a row is the Gaussian of its observed features o alone,
N(x_o; mu_o, S_oo). M-step: a missing block m is replaced by its conditional expectation under
class k, x_m = mu_m + S_mo S_oo^-1 (x_o - mu_o), and the scatter gains its conditional covariance
S_mm - S_mo S_oo^-1 S_om (for diagonal and scalar kinds, S_mo = 0: the class mean and variance).
Rows are grouped by their pattern of holes, so each pattern's block is factorised once per class.
"""
import numpy as np
from scipy import linalg, special

KINDS = ("scalar", "diagonal", "full", "tied")


def class_covariances(kind, covariances, K, F):
    """Each class's F x F covariance matrix, (K, F, F), from the kind's shape."""
    c = np.asarray(covariances, dtype=float)
    if kind == "scalar":
        return c[:, None, None] * np.eye(F)
    if kind == "diagonal":
        return np.array([np.diag(v) for v in c])
    if kind == "tied":
        return np.broadcast_to(c, (K, F, F)).copy()
    return c.reshape(K, F, F)


def patterns(X):
    """The distinct patterns of observed features (rows of booleans) and each row's pattern."""
    observed = ~np.isnan(X)
    if not observed.any(axis=1).all():
        raise ValueError("a row has no observed value")
    return np.unique(observed, axis=0, return_inverse=True)


def joint_log_densities(X, weights, means, covariances):
    """log w_k + log N(x_o; mu_o, S_oo) for every row and class, (n, K); covariances (K, F, F)."""
    X = np.asarray(X, dtype=float)
    out = np.empty((X.shape[0], len(weights)))
    shapes, which = patterns(X)
    for p, o in enumerate(shapes):
        rows = which == p
        x = X[rows][:, o]
        for k, (w, mu, S) in enumerate(zip(weights, means, covariances)):
            factor = linalg.cholesky(S[np.ix_(o, o)], lower=True)
            z = linalg.solve_triangular(factor, (x - mu[o]).T, lower=True)
            log_det = 2.0 * np.log(np.diag(factor)).sum()
            out[rows, k] = np.log(w) - 0.5 * (o.sum() * np.log(2 * np.pi) + log_det + (z * z).sum(axis=0))
    return out


def e_step(X, weights, means, covariances):
    """(posteriors (n, K), each row's log density under the mixture (n,)), covariances (K, F, F)."""
    joint = joint_log_densities(X, weights, means, covariances)
    per_row = special.logsumexp(joint, axis=1)
    return np.exp(joint - per_row[:, None]), per_row


def conditional_expectations(X, mean, covariance):
    """Under one Gaussian (mean (F,), covariance (F, F)): each row with its missing values replaced
    by their conditional means given the observed ones, (n, F), and the conditional covariance
    of each row's missing block in place (zero elsewhere), (n, F, F)."""
    X = np.asarray(X, dtype=float)
    filled, extra = X.copy(), np.zeros((X.shape[0], X.shape[1], X.shape[1]))
    shapes, which = patterns(X)
    for p, o in enumerate(shapes):
        m = ~o
        if not m.any():
            continue
        rows = which == p
        S_oo, S_mo, S_mm = covariance[np.ix_(o, o)], covariance[np.ix_(m, o)], covariance[np.ix_(m, m)]
        regression = linalg.solve(S_oo, S_mo.T, assume_a="pos").T  # S_mo S_oo^-1
        filled[np.ix_(rows, m)] = mean[m] + (X[rows][:, o] - mean[o]) @ regression.T
        block = np.zeros_like(covariance)
        block[np.ix_(m, m)] = S_mm - regression @ S_mo.T
        extra[rows] = block
    return filled, extra


def m_step(X, posteriors, means, covariances, kind, reg_covar=0.0):
    """The next (weights, means, covariances in the kind's shape) from the posteriors of the E-step
    and the model they came from (means (K, F), covariances (K, F, F), which give the conditional
    expectations): the expected sufficient statistics of the complete data."""
    n, F = X.shape
    K = posteriors.shape[1]
    counts = posteriors.sum(axis=0)
    new_means, scatters = np.empty((K, F)), np.empty((K, F, F))
    for k in range(K):
        filled, extra = conditional_expectations(X, means[k], covariances[k])
        r = posteriors[:, k]
        new_means[k] = r @ filled / counts[k]
        d = filled - new_means[k]
        scatters[k] = ((r[:, None] * d).T @ d + np.tensordot(r, extra, axes=1)) / counts[k]
    if kind == "full":
        new = scatters + reg_covar * np.eye(F)
    elif kind == "tied":
        new = np.tensordot(counts, scatters, axes=1) / n + reg_covar * np.eye(F)
    elif kind == "diagonal":
        new = np.diagonal(scatters, axis1=1, axis2=2) + reg_covar
    else:
        new = np.trace(scatters, axis1=1, axis2=2) / F + reg_covar
    return counts / n, new_means, new


def em(X, weights, means, covariances, kind, steps, reg_covar=1e-6, tol=1e-3):
    """Plain EM from a model (covariances in the kind's shape), at most `steps` steps, stopping as
    scikit-learn does when the mean log-likelihood changes by less than tol. Returns the model and
    the observed-data log-likelihood of the E-step before each update."""
    K, F = np.shape(means)
    model, history = (np.asarray(weights), np.asarray(means), np.asarray(covariances)), []
    for _ in range(steps):
        full = class_covariances(kind, model[2], K, F)
        posteriors, per_row = e_step(X, model[0], model[1], full)
        history.append(per_row.sum())
        model = m_step(X, posteriors, model[1], full, kind, reg_covar)
        if len(history) > 1 and abs(history[-1] - history[-2]) < tol * X.shape[0]:
            break
    return model, history


def saved_model_log_likelihood(model, X):
    """The observed-data log-likelihood of rows X under a saved model (the JSON's dict): the rows
    as the fit sees them (its centre subtracted), each row's mixture density over its observed
    features, summed."""
    X = np.asarray(X, dtype=float)
    if model.get("unit_length"):
        raise ValueError("a model of the correlation metric has no density for rows with holes")
    if model.get("centre") is not None:
        X = X - np.asarray(model["centre"])
    K, F = model["classes"], model["features"]
    full = class_covariances(model["covariance"], model["covariances"], K, F)
    _, per_row = e_step(X, np.asarray(model["weights"]), np.asarray(model["means"]), full)
    return per_row.sum()
