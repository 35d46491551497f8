"""mogem: Gaussian mixtures fitted by EM or annealing EM, bit for bit reproducible.

``GaussianMixture`` is scikit-learn's ``sklearn.mixture.GaussianMixture`` (its parameters,
defaults, attributes and messages) with mogem's own keyword arguments after them; ``select`` chooses the
number of components and the covariance type by BIC, AIC or ICL; ``load`` reads a saved model.
The engine itself is ``mogem._mogem`` (the C++ library's fit, prediction and model files).
"""

from ._estimator import FitError, GaussianMixture, MogemWarning, load
from ._select import select

__all__ = ["FitError", "GaussianMixture", "MogemWarning", "load", "select"]
__version__ = "0.1.0"
