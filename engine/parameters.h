// The engine's record of a fit's settings (em_parameters), built from the library's options:
// the one place where the public choices become the engine's codes.
#ifndef MOGEM_ENGINE_PARAMETERS_H
#define MOGEM_ENGINE_PARAMETERS_H

#include <cstddef>

#include "engine/em_types.h"
#include "mogem/mogem.h"

namespace mogem::detail {

// The record of a fit of rows x cols values with these options (given_means points into
// o.initial_means, which must outlive it); data_name is what messages call the data.
em_parameters parameters_of(const options &o, std::size_t rows, std::size_t cols);

// The engine's code of a covariance kind (em_kind).
int kind_code(covariance_kind kind);

}  // namespace mogem::detail

#endif
