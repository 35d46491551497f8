#!/usr/bin/python3
"""The log-likelihood of a saved model recomputed from its JSON with NumPy and SciPy alone, over
the observed values of each row (a NaN, or an empty CSV field, is a missing value).

  tests/tools/recompute_loglik.py MODEL.model.json DATA [SUMMARY.summary.json]

DATA: a CSV file with a header (the model's columns by name when it names them, else every numeric
column) or a parameter file (its rows after "begin"). Prints the recomputed log-likelihood and,
below it, the one mogem reported (the summary's, given or MODEL's .summary.json beside it, else
the model's statistics), and their relative difference; exits 1 if that is above 1e-9.
"""
import json
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from holes_reference import saved_model_log_likelihood  # noqa: E402


def read_rows(path, names):
    """The data rows: a parameter file's (`nan` a missing value), or a CSV file's (pandas' missing
    fields: empty, NA, NaN, ...), its columns those the model names when it names them."""
    with open(path) as f:
        lines = f.read().splitlines()
    if any(line.startswith("begin") for line in lines):
        begin = next(i for i, line in enumerate(lines) if line.startswith("begin"))
        return np.array([[float(v) for v in line.split()] for line in lines[begin + 1:] if line.strip()])
    import pandas
    table = pandas.read_csv(path)
    table = table[names] if names else table.select_dtypes("number")
    return table.to_numpy(dtype=float)


def reported(model_path, model, summary_path):
    if summary_path is None and model_path.endswith(".model.json"):
        guess = model_path[:-len(".model.json")] + ".summary.json"
        summary_path = guess if os.path.exists(guess) else None
    if summary_path is not None:
        with open(summary_path) as f:
            return json.load(f)["log_likelihood"], summary_path
    return model["statistics"]["log_likelihood"], model_path


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__.strip())
    with open(argv[1]) as f:
        model = json.load(f)
    ours = saved_model_log_likelihood(model, read_rows(argv[2], model.get("feature_names")))
    theirs, source = reported(argv[1], model, argv[3] if len(argv) == 4 else None)
    difference = abs(ours - theirs) / max(abs(theirs), 1e-300)
    lines = (("log-likelihood recomputed", f"{ours:.15g}"), (f"mogem's ({os.path.basename(source)})", f"{theirs:.15g}"),
             ("relative difference", f"{difference:.1e}"))
    width = max(len(label) for label, _ in lines) + 2
    for label, value in lines:
        print(f"{label:<{width}}{value}")
    return 0 if difference <= 1e-9 and math.isfinite(ours) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
