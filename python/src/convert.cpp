#include "arrays.h"

namespace mogem_python {

mogem::matrix_view rows_of(const rows_array &X) {
  if (X.ndim() != 2)
    throw py::value_error("X must be a 2-D array of shape (n_samples, n_features); it has " +
                          std::to_string(X.ndim()) + " dimensions");
  return {X.data(), static_cast<std::size_t>(X.shape(0)), static_cast<std::size_t>(X.shape(1))};
}

std::vector<py::ssize_t> covariance_shape(const mogem::model &m) {
  switch (m.kind) {
    case mogem::covariance_kind::scalar: return {m.classes};
    case mogem::covariance_kind::diagonal: return {m.classes, m.features};
    case mogem::covariance_kind::tied: return {m.features, m.features};  // one matrix, shared
    case mogem::covariance_kind::full: break;
  }
  return {m.classes, m.features, m.features};
}

}  // namespace mogem_python
