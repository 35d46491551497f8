// Allocation and release of the model state.
//
// Shapes (N = num_data, F = num_features, K = num_classes of the parameter record):
// classifications ivector 1..N; data dmatrix 1..N x 1..F (or the caller's rows, see below);
// P_j, p_x_j, log_det, log_p_j dvector 1..K; class_means dmatrix 1..K x 1..F; P_j_x 1..K x
// 1..N (class first), its values held in posterior_values; class_variances and inv_covariance
// as the kind's record makes them (covariance_kinds.h); centre dvector 1..F when center_data
// is set. Container contents are undefined until a step of the run writes them.
#ifndef MOGEM_ENGINE_MODEL_STATE_H
#define MOGEM_ENGINE_MODEL_STATE_H

#include <vector>

#include "engine/em_types.h"

namespace mogem::detail {

// A new model state for the finished parameter record p (which it points at, not owns):
// every container made, `features`, `datapoints`, `classes`, `distance_metric`,
// `schedule_scalar` and `init_temp` copied, the kind's record chosen, the fastest kernel path
// the CPU runs (best_kernels), the E-step exponent 1, one thread, the operation pointers unset
// (null). When `rows` is not null the data are the
// caller's row-major N x F values, read (and, by the transformations, written) in place and
// never released here; otherwise the state makes its own data matrix. Memory that cannot be
// had ends the run through NR_error, with nothing left allocated.
em_memory *allocate_em_memory(em_parameters *p, double *rows = nullptr);

// Releases every container, with the sizes of the parameter record (never the copies in the
// model state, which annealing moves), and the model state itself. The parameter record is
// the caller's.
void release_em_memory(em_memory *m);

// The posteriors, class first and zero-based (value [k * N + i] for class k + 1 and point
// i + 1), moved out of the model state without a copy; P_j_x is gone afterwards.
std::vector<double> take_posteriors(em_memory *m);

}  // namespace mogem::detail

#endif
