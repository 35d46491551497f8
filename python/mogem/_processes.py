"""Fits over the processes of an mpi4py communicator (``comm=``): every process passes its own
rows, and every process gets the model one process gets on all the rows, bit for bit."""

import contextlib


def _checked(comm):
    """mogem._mpi, once comm is known to be an mpi4py intracommunicator."""
    try:
        from . import _mpi
    except ImportError as e:
        raise ImportError(f"comm= needs mpi4py and mogem built beside an MPI library ({e}); on Debian install "
                          "python3-mpi4py and libopenmpi-dev, then reinstall mogem") from None
    from mpi4py import MPI

    if not isinstance(comm, MPI.Intracomm):
        raise TypeError(f"comm must be an mpi4py intracommunicator (such as MPI.COMM_WORLD); got {comm!r}")
    return _mpi


def together(comm, work):
    """work() on every process of comm; when it raises on any, every process raises the error of
    the lowest-ranked one that failed, so that none waits for the others in a fit they left.
    Without comm, work() alone."""
    if comm is None:
        return work()
    _checked(comm)
    try:
        result, failure = work(), None
    except Exception as e:  # handed to every process below
        result, failure = None, e
    failures = comm.allgather(failure)
    first = next((f for f in failures if f is not None), None)
    if first is not None:
        raise first
    return result


def shared_rows(comm, X, settings):
    """The rows of all processes of comm together; raises ValueError on every process when their
    rows have different numbers of features. The processes agree on the random seed: process 0's,
    so that random_state=None draws the same starts on all."""
    settings.random_seed = comm.bcast(settings.random_seed, root=0)
    shapes = comm.allgather(X.shape)
    features = sorted({f for _, f in shapes})
    if len(features) > 1:
        raise ValueError(f"the processes' rows must have the same number of features; they have {features} "
                         f"(process by process: {[f for _, f in shapes]})")
    return sum(n for n, _ in shapes)


@contextlib.contextmanager
def process_group(comm):
    """The library's process group over comm for one fit (the capsule mogem._mogem's fit and
    select take as processes=), None without comm or with one process. Collective: every process
    of comm enters it with its own rows."""
    if comm is None:
        yield None
        return
    mpi = _checked(comm)
    if comm.Get_size() == 1:
        yield None
        return
    group = mpi.ProcessGroup(comm)
    try:
        yield group.capsule()
    finally:
        group.close()
