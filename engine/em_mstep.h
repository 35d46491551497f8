// M-step: weights, means and covariances re-estimated from the posteriors P_j_x.
//
// With N = datapoints, F = features, K = classes. The EM loop calls the kind's m_step
// (covariance_kinds.h), one of the m_step_* below: the weights, then the means, then the
// covariances, the means and covariances with the weights of the same iteration. A class whose
// effective weight (N x P_j[k]; N*F x P_j[k] for the scalar
// variance) is exactly 0 is skipped and keeps its previous mean and covariance; a point whose
// posterior for the class is exactly 0 is skipped for it. Every variance, and the diagonal of
// a full covariance, is held at or above the parameters' variance_floor (hold_at_floor), and
// counted in m->at_floor. Under the correlation
// metric the means are rescaled to unit length after each update. Every accumulator adds its
// terms in ascending data-point order; the sums over the points run through the kernel path
// m->kernels (kernels/kernels.h). Nothing here allocates or reports.
#ifndef MOGEM_ENGINE_EM_MSTEP_H
#define MOGEM_ENGINE_EM_MSTEP_H

#include "engine/em_types.h"

namespace mogem::detail {

// One M-step of the kind: P_j[k] = (sum over i of P_j_x[k][i]) / N, class_means[k] = the
// posterior-weighted mean of the data, then the kind's covariances (the update_variances_*
// below; DIAG: the per-feature variances, the weighted mean of x^2 minus the squared mean, taken
// around the means before any rescaling). The weights' sums ride on the pass over the points
// that takes the means (and DIAG's squares): the posteriors are read in one pass fewer. When the
// E-step took that pass's sums (m->early.taken, em_estep.h) they serve instead, and the flag is
// cleared.
// Returns the sum over classes of |new weight - old|, between 0 and 2 for weights that sum to
// 1; 0 when K < 1.
double m_step_scalar(em_memory *m);
double m_step_diag(em_memory *m);
double m_step_full(em_memory *m);
double m_step_tied(em_memory *m);

// The M-step's first sums taken early by the E-step (em_types.h, early_mean_sums; em_estep.h):
// start_early_mean_sums makes m->early's storage for K classes and F features, every sum 0;
// add_early_mean_sums adds the rows first..last (ascending, after any rows added before) to
// every class's weight, means and, when the kind takes them, squares, as the M-step's own pass.
void start_early_mean_sums(em_memory *m);
void add_early_mean_sums(em_memory *m, int first, int last);

// class_variances.scalar[k] = the weighted sum of squared distances to the new mean divided
// by N*F x P_j[k]: the mean squared distance per feature.
void update_variances_scalar(em_memory *m);

// FULL: the weighted covariance around the new mean, upper triangle accumulated and then
// mirrored so the matrix is exactly symmetric; only the diagonal is floored.
void update_variances_full(em_memory *m);

// TIED: the scatter of every class around its new mean (as FULL accumulates it, the rows in
// ascending order over all processes), summed over the classes in ascending order and divided
// by the points of all processes, into the shared covariance (class_variances.full[1]); its
// diagonal held at or above variance_floor and then reg_covar added, once for all classes.
// One covariance for all: the weights only enter through the posteriors.
void update_variances_tied(em_memory *m);

// The last part of an M-step, shared by the complete-data M-step and the one with holes
// (holes.h), from sums over the rows taken around the new means:
// - DIAG: class_variances.diagonal[k][j] holds the weighted sum of x^2 on entry; leaves the
//   weighted mean of x^2 minus the squared mean, floored;
// - FULL: `scatters` holds each class's weighted scatter, upper triangle, class k's (r, s) at
//   [((k - 1) F + r - 1) width + s - 1]; each weighted class's covariance = its scatter divided
//   by its effective weight, the diagonal floored, then mirrored so it is exactly symmetric;
// - TIED: the same sums added over the classes in ascending order and divided by the points of
//   all processes, into class_variances.full[1]; its diagonal floored, then reg_covar added.
// A class of effective weight 0 keeps its covariance.
void finish_diagonal_variances(em_memory *m);
void covariances_from_scatters(em_memory *m, const double *scatters, int width);
void shared_covariance_from_scatters(em_memory *m, const double *scatters, int width);

// Holds a re-estimated variance (a variance, or an entry of a covariance's diagonal) at or
// above `floor` (variance_floor; with a floor of 0 a variance that rounding made negative is
// held at 0) and counts it in `count`: seen, and held when the floor replaced it. Every kind's
// variance update passes each variance it re-estimates through here, so that the fit's
// statistics count the variances at the floor for any kind.
inline void hold_at_floor(double &variance, double floor, floor_count &count) {
  count.seen++;
  if (variance < floor) {
    variance = floor;
    count.held++;
  }
}

}  // namespace mogem::detail

#endif
