// mogem._mpi: an mpi4py communicator as the library's process group, for fits over the
// processes of the communicator (GaussianMixture(comm=...), mogem.select(comm=...)). Built only
// where MPI and mpi4py are found; mogem._mogem knows nothing of MPI.
//
// The group reaches mogem._mogem's fit as a capsule named "mogem.process_group" that points at
// the mogem::process_group; the ProcessGroup object that made it must live until the fit is
// done. Its messages run on duplicates of the communicator, never mixed with the caller's.
#include <mpi4py/mpi4py.h>
#include <pybind11/pybind11.h>

#include <memory>

#include "mpi/mpi_group.h"

namespace py = pybind11;

namespace {

struct process_group_handle {
  std::unique_ptr<mogem::detail::mpi_group> group;

  explicit process_group_handle(const py::object &comm) {
    MPI_Comm *handle = PyMPIComm_Get(comm.ptr());  // TypeError for anything but an mpi4py Comm
    if (!handle) throw py::error_already_set();
    int inter = 0;
    if (*handle == MPI_COMM_NULL || MPI_Comm_test_inter(*handle, &inter) != MPI_SUCCESS || inter)
      throw py::value_error("comm must be an mpi4py intracommunicator (such as MPI.COMM_WORLD); got " +
                            py::repr(comm).cast<std::string>());
    py::gil_scoped_release nogil;  // the duplicates wait for every process
    group = mogem::detail::mpi_group_over(*handle);
  }

  void close() {
    if (!group) return;
    py::gil_scoped_release nogil;
    mogem::detail::free_mpi_group(*group);
    group.reset();
  }

  const mogem::process_group &open() const {
    if (!group) throw py::value_error("the process group is closed");
    return group->group;
  }
};

}  // namespace

PYBIND11_MODULE(_mpi, m) {
  if (import_mpi4py() < 0) throw py::error_already_set();
  m.doc() = "An mpi4py communicator as the mogem library's process group (comm=).";
  py::class_<process_group_handle>(m, "ProcessGroup",
                                   "The processes of an mpi4py communicator; collective to make and to close.")
      .def(py::init<const py::object &>(), py::arg("comm"))
      .def_property_readonly("rank", [](const process_group_handle &h) { return h.open().rank; })
      .def_property_readonly("size", [](const process_group_handle &h) { return h.open().size; })
      .def(
          "capsule",
          [](const process_group_handle &h) {
            return py::capsule(static_cast<const void *>(&h.open()), "mogem.process_group");
          },
          "The group as mogem._mogem's fit and select take it (processes=); valid while this object is open.")
      .def("close", &process_group_handle::close,
           "Frees the communicator's duplicates (collective); the group is then closed.");
}
