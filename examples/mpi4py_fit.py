#!/usr/bin/env python3
"""One fit over several processes from Python: every process reads its own share of the iris
rows and passes it to mogem.GaussianMixture(comm=...); every process gets the model one process
gets on all 150 rows, bit for bit, as each checks by also fitting all the rows alone.

    mpirun --oversubscribe -np 2 build/venv/bin/python examples/mpi4py_fit.py

(--oversubscribe lets mpirun start more processes than it counts free cores; as root it also
wants --allow-run-as-root.)
"""
import os

import numpy as np
from mpi4py import MPI

import mogem

comm = MPI.COMM_WORLD
HERE = os.path.dirname(os.path.abspath(__file__))
X = np.loadtxt(os.path.join(HERE, "iris.csv"), delimiter=",", skiprows=1, usecols=range(4))
mine = np.array_split(X, comm.size)[comm.rank]  # the processes' shares, in rank order, are the data

model = mogem.GaussianMixture(3, covariance_type="full", random_state=0, comm=comm).fit(mine)

alone = mogem.GaussianMixture(3, covariance_type="full", random_state=0).fit(X)
same = model.lower_bound_ == alone.lower_bound_ and all(
    np.array_equal(getattr(model, name), getattr(alone, name)) for name in ("weights_", "means_", "covariances_"))
print(f"process {comm.rank} of {comm.size}: {len(mine)} rows; weights {np.round(model.weights_, 4)}, "
      f"mean log-likelihood {model.lower_bound_:.6f}; the model of one process on all rows, bit for bit: {same}")
