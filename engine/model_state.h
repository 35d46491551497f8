// Making the model state.
//
// Shapes (N = num_data, F = num_features, K = num_classes of the parameter record):
// classifications 1..N; data 1..N x 1..F (its own, or the caller's rows, see below); P_j,
// log_det, log_p_j 1..K; class_means 1..K x 1..F; P_j_x 1..K x 1..N (class first);
// class_variances and inv_covariance as the kind's record makes them (covariance_kinds.h);
// centre 1..F when center_data is set. Every container starts at zero; a step of the run
// gives it its meaning.
#ifndef MOGEM_ENGINE_MODEL_STATE_H
#define MOGEM_ENGINE_MODEL_STATE_H

#include <vector>

#include "engine/em_types.h"

namespace mogem::detail {

// A new model state for the finished parameter record p (which it points at, not owns):
// every container made, `features`, `datapoints` and `classes` from the record's counts, the
// kind's record chosen, the fastest kernel path the CPU runs (best_kernels), the E-step
// exponent 1, one thread. When `rows` is not null the data are the caller's row-major N x F
// values, read (and, by the transformations, written) in place, which must outlive the
// state; otherwise the state makes its own data matrix. Memory that cannot be had ends the
// run through NR_error, with nothing left allocated.
em_memory *allocate_em_memory(em_parameters *p, double *rows = nullptr);

// Releases the model state and everything it owns (delete does the same).
void release_em_memory(em_memory *m);

// The posteriors, class first and zero-based (value [k * N + i] for class k + 1 and point
// i + 1), moved out of the model state without a copy; P_j_x is empty afterwards.
std::vector<double> take_posteriors(em_memory *m);

}  // namespace mogem::detail

#endif
