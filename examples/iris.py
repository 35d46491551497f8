#!/usr/bin/env python3
"""The README's iris picture from Python: mogem.GaussianMixture on Fisher's iris measurements
with the settings of examples/iris.txt, drawn as petal length against petal width, each class's
mean marked and its two-standard-deviation ellipse drawn.

    build/venv/bin/python examples/iris.py [PNG]      (default build/example/iris-python.png)
"""
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.patches import Ellipse  # noqa: E402

import mogem  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "example", "iris-python.png")

X = np.loadtxt(os.path.join(HERE, "iris.csv"), delimiter=",", skiprows=1, usecols=range(4))
# As examples/iris.txt: 3 classes, diagonal covariances, church_means, 100 steps, no reg_covar,
# the variance floor 0.001 (the stop rule is the lower bound's here).
model = mogem.GaussianMixture(3, covariance_type="diag", max_iter=100, reg_covar=0.0, init_params="church_means",
                              variance_floor=0.001).fit(X)
petal = [2, 3]  # petal length and width

fig, ax = plt.subplots(figsize=(7, 5.5), dpi=100)
for k in range(model.n_components):
    colour = plt.get_cmap("tab10")(k)
    rows = X[model.labels_ == k]
    ax.scatter(rows[:, petal[0]], rows[:, petal[1]], s=14, color=colour, alpha=0.7,
               label=f"class {k + 1} ({len(rows)} rows)")
    mean, sd = model.means_[k, petal], np.sqrt(model.covariances_[k, petal])
    ax.add_patch(Ellipse(mean, 4 * sd[0], 4 * sd[1], fill=False, color=colour, linewidth=1.5))
    ax.scatter(*mean, marker="X", s=120, color=colour, edgecolor="black", linewidth=0.8, zorder=3)
ax.set_xlabel("petal length (feature 3)")
ax.set_ylabel("petal width (feature 4)")
ax.set_title(f"iris: {len(X)} rows, 3 classes; BIC {model.bic(X):.1f} (mogem.GaussianMixture)", fontsize=10)
ax.legend(fontsize=8, loc="best")
fig.tight_layout()
os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
fig.savefig(output, format="png")
