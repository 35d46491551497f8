// Allocation and release of the model state.
//
// Shapes (N = num_data, F = num_features, K = num_classes of the parameter record):
// classifications ivector 1..N; data dmatrix 1..N x 1..F; P_j, p_x_j, log_det, log_p_j
// dvector 1..K; class_means dmatrix 1..K x 1..F; P_j_x dmatrix 1..K x 1..N (class first);
// class_variances and inv_covariance by em_type: SCALAR dvector 1..K, DIAG dmatrix
// 1..K x 1..F, FULL d3tensor 1..K x 1..F x 1..F (nothing for any other em_type).
// Container contents are undefined until a step of the run writes them.
#ifndef MOGEM_ENGINE_MODEL_STATE_H
#define MOGEM_ENGINE_MODEL_STATE_H

#include "engine/em_types.h"

namespace mogem::detail {

// A new model state for the finished parameter record p: every container made, `features`,
// `datapoints`, `classes`, `distance_metric`, `schedule_scalar` and `init_temp` copied, the
// operation pointers unset (null) and no output error counted. Memory that cannot be had
// ends the run through NR_error (exit code 1).
em_memory *allocate_em_memory(em_parameters *p);

// Releases the means-file copy and every container, with the sizes of the parameter record
// (never the copies in the model state, which annealing and the class adjustment move).
void deallocate_em_memory(em_memory *m);

// Releases the two records themselves, after deallocate_em_memory.
void release_em_records(em_memory *m);

void alloc_class_variances(em_memory *m, em_parameters *p);
void alloc_inverse_variances(em_memory *m, em_parameters *p);
void dealloc_class_variances(em_memory *m);
void dealloc_inverse_variances(em_memory *m);

}  // namespace mogem::detail

#endif
