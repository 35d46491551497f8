// The starts that give a whole model at once, from responsibilities of the rows: the classes of
// k-means (initialization::kmeans), those of the k-means++ centres (kmeans_plus_plus), or
// random responsibilities (random_responsibilities), each followed by one M-step of the run's
// kind.
#ifndef MOGEM_ENGINE_MODEL_STARTS_H
#define MOGEM_ENGINE_MODEL_STARTS_H

#include "engine/em_types.h"

namespace mogem::detail {

// Whether the init_method_code is one of these starts.
bool starts_from_responsibilities(int init_method);

// On the data as the fit sees them (centred, at unit length), with a 48-bit generator started
// from m->generator_state: P_j_x gets the responsibilities (one-hot for the k-means starts:
// 1 for the class of the row's nearest centre; for random ones each row's K uniform draws
// divided by their sum, rows in order over all processes), then the weights, the kind's means
// and covariances and reg_covar follow as in an EM step. A class without rows (weight 0) keeps
// what the means-file start gives it from the centres: its centre as mean and a spherical
// variance, the squared distance to the nearest other centre (1 when that is 0). Same bits on
// any thread and process count.
void start_from_responsibilities(em_memory *m);

}  // namespace mogem::detail

#endif
