"""The log-likelihood, BIC, AIC and ICL the mogem program reports in .summary.json, for every
covariance kind and metric, and the log-likelihood of a prediction on part of the rows (through
the training centre), against SciPy's densities over the rows as the saved model sees them."""

import json
import math

import numpy as np
import pytest

from conftest import run_program

scipy_special = pytest.importorskip("scipy.special")
scipy_stats = pytest.importorskip("scipy.stats")


def as_fit_sees(model, x):
    if model["centre"] is not None:
        x = x - np.array(model["centre"])
    if model["unit_length"]:
        x = x / np.linalg.norm(x, axis=1, keepdims=True)
    return x


def joint_log_density(model, x):
    """log w_k + log N(x_i; mu_k, Sigma_k), rows by classes."""
    f, kind = model["features"], model["covariance"]
    columns = []
    # A tied model holds one matrix that every class shares.
    covariances = [model["covariances"]] * model["classes"] if kind == "tied" else model["covariances"]
    for w, mu, c in zip(model["weights"], model["means"], covariances):
        sigma = c * np.eye(f) if kind == "scalar" else np.diag(c) if kind == "diagonal" else np.array(c)
        columns.append(math.log(w) + scipy_stats.multivariate_normal(np.array(mu), sigma).logpdf(x))
    return np.column_stack(columns)


@pytest.mark.parametrize("kind", ["scalar", "diagonal", "full", "tied"])
@pytest.mark.parametrize("metric", ["euclidean", "correlation", "correlation_centered"])
def test_summary_statistics_are_the_models_densities(iris, kind, metric, tmp_path, mogem_binary):
    base = run_program(mogem_binary, tmp_path, iris, dict(num_clusters=3, em_type=kind, distance_metric=metric,
                                                          max_em_iterations=100, output_summary=1))
    summary = json.loads(base.with_suffix(".summary.json").read_text())
    model = json.loads(base.with_suffix(".model.json").read_text())
    n, f = iris.shape
    joint = joint_log_density(model, as_fit_sees(model, iris))
    per_row = scipy_special.logsumexp(joint, axis=1)
    loglik = math.fsum(per_row)
    p = (3 - 1) + 3 * f + {"scalar": 3, "diagonal": 3 * f, "full": 3 * f * (f + 1) // 2, "tied": f * (f + 1) // 2}[kind]
    bic = -2 * loglik + p * math.log(n)
    entropy = -math.fsum(joint[np.arange(n), joint.argmax(axis=1)] - per_row)
    assert summary["log_likelihood"] == pytest.approx(loglik, rel=1e-9)
    assert summary["bic"] == pytest.approx(bic, rel=1e-9)
    assert summary["aic"] == pytest.approx(-2 * loglik + 2 * p, rel=1e-9)
    assert summary["icl"] == pytest.approx(bic + 2 * entropy, rel=1e-9)
    # The first rows, whose own column means are not the training ones.
    part = iris[:40]
    predicted = run_program(mogem_binary, tmp_path, part, dict(predict_with=base.with_suffix(".model.json"),
                                                                output_summary=1))
    expected = math.fsum(scipy_special.logsumexp(joint_log_density(model, as_fit_sees(model, part)), axis=1))
    assert json.loads(predicted.with_suffix(".summary.json").read_text())["log_likelihood"] == \
        pytest.approx(expected, rel=1e-9)
