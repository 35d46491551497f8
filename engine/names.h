// The names a user reads and writes for the settings of a fit: the parameter file's keywords
// for the covariance kinds and metrics, and "em" / "annealing" for the algorithms.
#ifndef MOGEM_ENGINE_NAMES_H
#define MOGEM_ENGINE_NAMES_H

#include "mogem/mogem.h"

namespace mogem::detail {

const char *kind_name(covariance_kind kind);  // "scalar", "diagonal", "full", "tied"
const char *metric_name(metric distance);     // "euclidean", "correlation"
const char *algorithm_name(algorithm method); // "em", "annealing", "mixture_of_t"
const char *criterion_name(criterion by);     // "bic", "aic", "icl"

}  // namespace mogem::detail

#endif
