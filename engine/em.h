// Plain EM for a mixture of Gaussians, and the iteration loop annealing EM shares.
#ifndef MOGEM_ENGINE_EM_H
#define MOGEM_ENGINE_EM_H

#include <cmath>

#include "engine/em_estep.h"
#include "engine/em_types.h"

namespace mogem::detail {

// Plain EM: initialize_parameters, then one em_run from step 0 with the E-step exponent 1. Leaves the fitted model (weights, means, variances) and the posteriors of the
// last E-step in m.
void em(em_memory *m);

// The starting model: the data centred when center_data is set (the column means kept in
// m->centre); the configured initial means;
// data rows and means scaled to unit length under the correlation metric (the data stay so for
// the rest of the run); equal weights 1/K, uniform posteriors 1/K, and for every class a
// spherical covariance whose variance is the squared distance from its mean to the nearest
// other mean (find_closest). Then hands the data, as they now are, to the transformed-data
// callback when there is one. With holes (m->holes) the start sees each filled with its
// feature's mean over the observed values, the centre being those means, and the holes are NaN
// again before the callback (holes.h). The starts of a whole model (model_starts.h) instead
// take the data as they now are and set weights, means and covariances from responsibilities.
void initialize_parameters(em_memory *m);

// The regularisation after a variance update: reg_covar added to the variances of the classes
// the update changed (those of weight 0 keep their model); nothing when reg_covar is 0.
void regularise_variances(em_memory *m);

// Iterates from step start_index: snapshot (to the snapshot callback, when there is one,
// output_stepsize > 0 and the step is a multiple of it), E-step, weights, the kind's means and
// variances (m->kind; its M-step with holes when m->holes is set), the progress callback;
// it stops when the sum of the last four weight changes falls below convergence_threshold (a
// NaN change never does), or under the log-likelihood rule (loglik_rule, at an exponent above
// 0) when the mean over all rows of the E-step's log densities (or annealing objective, see
// em_types.h) changes by less than tol from the step before, as the first step's never does;
// m->converged and m->stopped_by_loglik tell which; or after max_em_iterations steps, counting
// each step in m->steps. Every variance update starts m->at_floor afresh. A final snapshot is taken under the returned step when that is a multiple of
// output_stepsize. Returns the step
// of the converging iteration, or start_index + max_em_iterations when the budget ran out
// (start_index itself for a budget of 0 or less). The first step's change is taken from
// previous_objective (a warm start's last objective; by default the first step never stops).
int em_run(em_memory *m, int start_index, double previous_objective = -HUGE_VAL);

}  // namespace mogem::detail

#endif
