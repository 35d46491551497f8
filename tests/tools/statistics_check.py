#!/usr/bin/python3
"""statistics_check.py MOGEM_BINARY INPUT_FILE: for each covariance kind and metric, the
log-likelihood, BIC, AIC and ICL in <output>.summary.json of a fit of INPUT_FILE's data, and the
log-likelihood of a prediction on part of the rows (through the training centre), against SciPy's
densities over the rows as the saved model sees them, to 1e-9 relative. Exit 0 when all agree,
1 naming each disagreement, 77 (a skip for ctest) without NumPy or SciPy.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from scipy.special import logsumexp
    from scipy.stats import multivariate_normal
except ImportError as e:
    print("skipped: %s (scripts/install-deps.sh test installs python3-numpy and python3-scipy)" % e)
    sys.exit(77)

TOLERANCE = 1e-9
KINDS = ("scalar", "diagonal", "full")
METRICS = ("euclidean", "correlation", "correlation_centered")
PREDICTED_ROWS = 40  # a prediction on the first rows, whose own column means are not the training ones
failures = []


def read_data(path):
    tokens = open(path).read().split()
    begin = tokens.index("begin")
    params = dict(zip(tokens[0:begin:2], tokens[1:begin:2]))
    rows, cols = int(params["rows"]), int(params["cols"])
    values = np.array([float(v) for v in tokens[begin + 2:begin + 2 + rows * cols]])
    return values.reshape(rows, cols)


def run(mogem, directory, name, keys, x):
    with open(os.path.join(directory, name + ".txt"), "w") as f:
        f.write("rows %d\ncols %d\n%sbegin data\n" % (x.shape[0], x.shape[1], keys))
        f.writelines(" ".join(repr(float(v)) for v in row) + "\n" for row in x)
    result = subprocess.run([mogem, name + ".txt", name + ".labels"], cwd=directory, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("statistics_check: mogem %s.txt failed (%d): %s" % (name, result.returncode, result.stderr))
    with open(os.path.join(directory, name + ".summary.json")) as f:
        return json.load(f)


def covariance(model, k):
    f = model["features"]
    c = model["covariances"][k]
    return {"scalar": lambda: c * np.eye(f), "diagonal": lambda: np.diag(c), "full": lambda: np.array(c)}[
        model["covariance"]]()


def as_fit_sees(model, x):
    if model["centre"] is not None:
        x = x - np.array(model["centre"])
    if model["unit_length"]:
        x = x / np.linalg.norm(x, axis=1, keepdims=True)
    return x


def joint_log_density(model, x):
    """log w_k + log N(x_i; mu_k, Sigma_k), rows by classes."""
    columns = [math.log(w) + multivariate_normal(np.array(mu), covariance(model, k)).logpdf(x)
               for k, (w, mu) in enumerate(zip(model["weights"], model["means"]))]
    return np.column_stack(columns)


def free_parameters(kind, k, f):
    return (k - 1) + k * f + {"scalar": k, "diagonal": k * f, "full": k * f * (f + 1) // 2}[kind]


def expect_close(case, what, reported, expected):
    if not abs(reported - expected) <= TOLERANCE * max(abs(reported), abs(expected)):
        failures.append("%s: %s is %r, recomputed %r" % (case, what, reported, expected))


def check(mogem, directory, data, kind, metric):
    case = "%s %s" % (kind, metric)
    model_file = "%s-%s.model.json" % (kind, metric)
    summary = run(mogem, directory, case.replace(" ", "-"), "num_clusters 3\nem_type %s\ndistance_metric %s\n"
                  "max_em_iterations 100\noutput_summary 1\nmodel_file %s\n" % (kind, metric, model_file), data)
    with open(os.path.join(directory, model_file)) as f:
        model = json.load(f)
    n, f = data.shape
    joint = joint_log_density(model, as_fit_sees(model, data))
    per_row = logsumexp(joint, axis=1)
    loglik = math.fsum(per_row)
    p = free_parameters(kind, model["classes"], f)
    bic = -2 * loglik + p * math.log(n)
    entropy = -math.fsum(joint[np.arange(n), joint.argmax(axis=1)] - per_row)
    expect_close(case, "log_likelihood", summary["log_likelihood"], loglik)
    expect_close(case, "bic", summary["bic"], bic)
    expect_close(case, "aic", summary["aic"], -2 * loglik + 2 * p)
    expect_close(case, "icl", summary["icl"], bic + 2 * entropy)

    part = data[:PREDICTED_ROWS]
    predicted = run(mogem, directory, case.replace(" ", "-") + "-predict",
                    "predict_with %s\noutput_summary 1\n" % model_file, part)
    expected = math.fsum(logsumexp(joint_log_density(model, as_fit_sees(model, part)), axis=1))
    expect_close(case + " prediction", "log_likelihood", predicted["log_likelihood"], expected)


def main():
    mogem, input_file = os.path.abspath(sys.argv[1]), sys.argv[2]
    data = read_data(input_file)
    with tempfile.TemporaryDirectory() as directory:
        for kind in KINDS:
            for metric in METRICS:
                check(mogem, directory, data, kind, metric)
    for failure in failures:
        print(failure)
    print("%d disagreements over %d fits" % (len(failures), len(KINDS) * len(METRICS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
