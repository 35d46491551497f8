// Queries on the model state: hard classification, nearest-mean distances, the metric's need
// for unit-length rows, and the log-likelihood.
#ifndef MOGEM_ENGINE_EM_CLASSIFY_H
#define MOGEM_ENGINE_EM_CLASSIFY_H

#include "engine/em_types.h"

namespace mogem::detail {

// classifications[i] = the class k in 1..classes with the largest P_j_x[k][i]. Only a strictly
// larger posterior replaces the best so far, so ties go to the lowest class and a NaN never
// wins (a point whose class-1 posterior is NaN is labelled 1).
void find_classifications(em_memory *m);

// Squared Euclidean distance from mean k to the nearest other mean, whatever the run's
// metric; at most 1e10, and 0.001 when there is only one class.
double find_closest(int k, em_memory *m);

// 1 when the metric keeps data rows and means at unit length (CORRELATION), else 0.
int metric_need_norm(int metric);
int need_norm(em_memory *m);

// Log-likelihood of the data under the current weights, with the inverse covariances the last
// E-step built: sum over points of ln(sum over classes of density x weight). No maximum is
// subtracted, so a point far from every mean contributes -inf. 0 when there are no points.
double find_log_likelihood(em_memory *m);

// 1 when num is neither NaN nor of magnitude at or above the largest finite float, else 0.
int reasonable_number(double num);

}  // namespace mogem::detail

#endif
