// Comparisons of fits to the last bit, a view of a vector of rows and the error a call throws,
// for tests of the library's results.
#ifndef MOGEM_TESTS_SUPPORT_SAME_MODEL_H
#define MOGEM_TESTS_SUPPORT_SAME_MODEL_H

#include <cstring>
#include <vector>

#include "mogem/mogem.h"

// The row-major values as rows of `cols`.
inline mogem::matrix_view view(const std::vector<double> &values, std::size_t cols) {
  return {values.data(), values.size() / cols, cols};
}

inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  // memcmp is not given the null data() of an empty vector.
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Weights, means, covariances to the last bit, and the steps run.
inline bool same_model(const mogem::model &a, const mogem::model &b) {
  return same_bits(a.weights, b.weights) && same_bits(a.means, b.means) && same_bits(a.covariances, b.covariances) &&
         a.steps == b.steps;
}

// The model, posteriors and labels to the last bit.
inline bool same_model(const mogem::fit_result &a, const mogem::fit_result &b) {
  return same_model(a.model, b.model) && same_bits(a.posteriors, b.posteriors) && a.labels == b.labels;
}

// The error the call throws; an invalid_input error "(no error)" when it throws none.
template <typename Call>
mogem::error error_of(Call call) {
  try {
    call();
  } catch (const mogem::error &e) {
    return e;
  }
  return mogem::error(mogem::error::kind::invalid_input, "(no error)");
}

#endif
