// NumPy arrays over the library's vectors, for the extension module mogem._mogem.
//
// Two ways out of C++: `owned` moves a vector into the array it returns (no copy; the array's
// capsule frees it), `view` shows a vector that a Python object keeps alive (the array's base).
// Both are read-only where they show a fitted model, so that the model cannot be changed
// behind the library's back.
#ifndef MOGEM_PYTHON_ARRAYS_H
#define MOGEM_PYTHON_ARRAYS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "mogem/mogem.h"

namespace mogem_python {

namespace py = pybind11;

// The caller's rows: C-contiguous float64 arrays are used where they lie, anything else is
// converted once (forcecast). Throws ValueError unless the array is 2-D.
using rows_array = py::array_t<double, py::array::c_style | py::array::forcecast>;
mogem::matrix_view rows_of(const rows_array &X);

// An array of `shape` over the vector's values, which it takes over.
template <typename T>
py::array_t<T> owned(std::vector<T> &&values, std::vector<py::ssize_t> shape) {
  auto *held = new std::vector<T>(std::move(values));
  py::capsule free_when_done(held, [](void *p) { delete static_cast<std::vector<T> *>(p); });
  return py::array_t<T>(shape, held->data(), free_when_done);
}

// A read-only array of `shape` over `values`, which `keeper` owns and keeps alive.
template <typename T>
py::array_t<T> view(const std::vector<T> &values, std::vector<py::ssize_t> shape, py::handle keeper) {
  py::array_t<T> a(shape, values.data(), keeper);
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

// The shape of a model's covariances for its kind: (K,), (K, F) or (K, F, F).
std::vector<py::ssize_t> covariance_shape(const mogem::model &m);

}  // namespace mogem_python

#endif
