from mogem import GaussianMixture

# A program written for scikit-learn's GaussianMixture: the line above is the only one that
# names the class's package. `from sklearn.mixture import GaussianMixture` in its place runs the
# same program with scikit-learn's class.
#
#     build/venv/bin/python examples/sklearn_program.py
#
# It chooses the number of components and the kind by BIC on Fisher's iris measurements, fits
# the chosen model, compares its clusters with the species, continues a short fit with warm
# starts, draws from the model and clusters the standardised rows in a pipeline.
import os
import warnings

import numpy as np
from sklearn.metrics import adjusted_rand_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

data = np.loadtxt(os.path.join(os.path.dirname(os.path.abspath(__file__)), "iris.csv"), delimiter=",", skiprows=1)
X, species = data[:, :4], data[:, 4].astype(int)

print("BIC by number of components (rows) and covariance type (columns)")
kinds = ["full", "tied", "diag", "spherical"]
print("   " + "".join(f"{kind:>11}" for kind in kinds))
bic = {}
for k in range(1, 7):
    for kind in kinds:
        bic[k, kind] = GaussianMixture(k, covariance_type=kind, n_init=5, random_state=0).fit(X).bic(X)
    print(f"{k:3d}" + "".join(f"{bic[k, kind]:11.1f}" for kind in kinds))
k, kind = min(bic, key=bic.get)
print(f"lowest BIC: {k} components, {kind}")

model = GaussianMixture(3, covariance_type="full", n_init=5, random_state=0).fit(X)
labels = model.predict(X)
print(f"3 full components: converged {model.converged_} after {model.n_iter_} steps, "
      f"lower bound {model.lower_bound_:.4f}, ARI against the species {adjusted_rand_score(species, labels):.3f}")
print("weights", np.round(np.sort(model.weights_), 3))

warm = GaussianMixture(3, covariance_type="full", max_iter=5, warm_start=True, random_state=0)
fits = 0
while not (fits and warm.converged_):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # each short fit but the last runs out of steps
        warm.fit(X)
    fits += 1
print(f"warm start: converged after {fits} fits of at most 5 steps, mean log-likelihood {warm.score(X):.4f}")

drawn, components = model.sample(1000)
print(f"1000 draws: per component {np.bincount(components, minlength=3).tolist()}, "
      f"mean log-likelihood under the model {model.score(drawn):.3f}")

pipeline = make_pipeline(StandardScaler(), GaussianMixture(3, covariance_type="full", random_state=0))
pipeline.fit(X)
print(f"pipeline with StandardScaler: ARI against the species "
      f"{adjusted_rand_score(species, pipeline.predict(X)):.3f}, mean log-likelihood {pipeline.score(X):.4f}")
