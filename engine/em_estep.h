// E-step: component densities and posteriors, in the log domain.
//
// With N = datapoints, F = features, K = classes of the model state. The covariance-kind
// operations are reached through the kind's record m->kind (covariance_kinds.h).
#ifndef MOGEM_ENGINE_EM_ESTEP_H
#define MOGEM_ENGINE_EM_ESTEP_H

#include "engine/em_types.h"

namespace mogem::detail {

// 2 pi as the densities use it; ln(2 pi) x F is the constant part of every log-density.
constexpr double EM_TWO_PI = 6.283185307179586;

// For every class k (in order): log_det[k] = log_determinant(m, k) + F ln(2 pi), log_p_j[k] =
// ln P_j[k], and the inverse covariance of k rebuilt, through m->kind. Then for every point
// i: the log-density of each class, minus the largest of them, plus the log weight, times the
// exponent inv_temp (1 for plain EM, the inverse temperature under annealing), exponentiated
// and normalised into P_j_x[k][i]. Nothing guards the logarithms or the normaliser: a zero
// variance or weight gives -inf, and a point whose terms all underflow gets NaN posteriors. A covariance that cannot be factorised (FULL) ends the
// run through NR_error. The per-class constants are computed on the calling thread; the points
// are shared among at most m->threads threads (kernels/parallel.h) and run in blocks through
// the kernel path m->kernels (kernels/kernels.h), with results that depend on neither.
// With holes in the rows (m->holes) the E-step on the observed values (holes.h) runs instead.
// When m->early.wanted is set (the EM loop, for the E-step its M-step follows) and the process
// holds every row, the first part of the points (all of them on one thread; fewer than its
// share on several, as it does more) also takes the M-step's first sums over its rows
// (em_types.h, early_mean_sums) while each block is in the cache, and sets m->early.taken and
// m->early.rows; m->early.wanted is cleared either way.
void find_P_j_x(em_memory *m);

// The per-class constants of the E-step on complete rows, on the calling thread: log_det[k] =
// log_determinant(m, k) + F ln(2 pi), log_p_j[k] = ln P_j[k] and the inverse covariance of k,
// through m->kind. A covariance that cannot be factorised ends the run
// (throw_singular_covariance, naming the class).
void class_constants(em_memory *m);

// When m->log_density is set and the exponent is above 0, the E-step also stores each point's
// log density (exponent 1) or annealing objective there (em_types.h): one log per point.

// find_P_j_x, with the log densities (when m->log_density is set) at exponent 1 whatever the
// model's: a model whose exponent is another first runs one E-step at 1 for them.
void find_P_j_x_and_densities(em_memory *m);

// find_P_j_x on at most `threads` threads.
void find_P_j_x_threads(em_memory *m, int threads);

// Natural log of the determinant of the covariance of class k.
double log_determinant_scalar(em_memory *m, int k);  // F ln(variance)
double log_determinant_diag(em_memory *m, int k);    // sum of ln(variance_j), j ascending
double log_determinant_full(em_memory *m, int k);    // ln of the LU determinant (NaN if negative)
// TIED: class 1 takes the log-determinant of the shared covariance as FULL does and keeps it
// (class_variances.shared_log_det); every later class returns the kept value. Callers go
// through the classes in ascending order from 1.
double log_determinant_tied(em_memory *m, int k);

// Squared Mahalanobis distance of data point i from the mean of class k, with the inverse
// covariance currently stored for k.
double mahalanobis_scalar(em_memory *m, int i, int k);  // inverse x (sum of squared differences)
double mahalanobis_diag(em_memory *m, int i, int k);    // sum of squared difference x inverse_j
double mahalanobis_full(em_memory *m, int i, int k);    // d^T inverse d, d = x - mean

// Writes the inverse of the covariance of class k into inv_covariance.
void inv_covariance_scalar(em_memory *m, int k);
void inv_covariance_diag(em_memory *m, int k);
void inv_covariance_full(em_memory *m, int k);  // Cholesky; NR_error when not positive definite
// TIED: class 1 inverts the shared covariance as FULL does; every later class copies class 1's
// inverse (so the full kind's distances serve). Classes in ascending order from 1.
void inv_covariance_tied(em_memory *m, int k);

}  // namespace mogem::detail

#endif
