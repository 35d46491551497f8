#include "engine/em_estep.h"

#include <cmath>
#include <memory>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_mstep.h"
#include "engine/failures.h"
#include "engine/holes.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"
#include "numeric/dmat_inverse.h"

namespace mogem::detail {

namespace {

constexpr int BLOCK = EM_BLOCK;

// Working storage of one part of the E-step, made on the calling thread before the parts run.
struct estep_scratch {
  kernel_buffer coordinates, differences, terms, largest, reciprocal;  // as in estep_block
  estep_scratch(int F, int K)
      : coordinates(static_cast<long>(F) * BLOCK), differences(static_cast<long>(F) * BLOCK),
        terms(static_cast<long>(K + 1) * BLOCK), largest(BLOCK), reciprocal(BLOCK) {}
  estep_block block() {
    return {coordinates.get(), differences.get(), terms.get(), largest.get(), reciprocal.get()};
  }
};

}  // namespace

void class_constants(em_memory *m) {
  const double d_log_2pi = std::log(EM_TWO_PI) * m->features;
  // Per-class work stays on the calling thread: a covariance that cannot be factorised ends
  // the run from here, with its message written exactly once, in words that name the class.
  const covariance_kind_ops &kind = *m->kind;
  for (int k = 1; k <= m->classes; k++) {
    try {
      m->log_det[k] = kind.log_determinant(m, k) + d_log_2pi;
      m->log_p_j[k] = std::log(m->P_j[k]);
      kind.build_inv_covariance(m, k);
    } catch (const error &cause) {
      if (!is_factorisation_failure(cause)) throw;
      throw_singular_covariance(m, k, cause);
    }
  }
}

void find_P_j_x(em_memory *m) {
  find_P_j_x_threads(m, m->threads);
}

void find_P_j_x_and_densities(em_memory *m) {
  if (m->log_density && m->inv_temp != 1.0) {
    const double exponent = m->inv_temp;
    m->inv_temp = 1.0;
    find_P_j_x(m);
    m->inv_temp = exponent;
    // The posteriors at the model's exponent; the densities stay those at 1.
    double *const log_density = m->log_density;
    m->log_density = nullptr;
    find_P_j_x(m);
    m->log_density = log_density;
    return;
  }
  find_P_j_x(m);
}

void find_P_j_x_threads(em_memory *m, int threads) {
  const bool sums_wanted = m->early.wanted;
  m->early.wanted = false;
  m->early.taken = false;
  if (m->holes) {
    holes_posteriors(m, threads);
    return;
  }
  const int K = m->classes, N = m->datapoints, F = m->features;
  const covariance_kind_ops &kind = *m->kind;
  class_constants(m);
  if (N < 1 || K < 1) return;

  const kernel_set &kernels = *m->kernels;
  const block_distances_op distances = kernels.*(kind.block_distances);
  const int blocks = static_cast<int>((static_cast<long long>(N) + BLOCK - 1) / BLOCK);
  const int parts = em_parts_for(static_cast<double>(N) * K * kind.distance_cost(F), threads, blocks);
  std::vector<std::unique_ptr<estep_scratch>> scratch;
  for (int part = 0; part < parts; part++) scratch.push_back(std::make_unique<estep_scratch>(F, K));

  // The terms at exponent b are (w_k N(x | k))^b / exp(b largest), so their sum gives the
  // density (b = 1) or the stage's objective; at exponent 0 there is none.
  const double exponent = m->inv_temp;
  double *const log_density = exponent > 0.0 ? m->log_density : nullptr;
  // The M-step's first sums taken while each block's rows and posteriors are in the cache, a
  // pass over the data and posteriors fewer a step, on a process alone. Only the first part's
  // rows, whose blocks come first and in ascending row order: every sum then adds them as the
  // M-step's own pass would, and the M-step adds the other parts' rows after them. That part
  // takes fewer rows, so that its extra sums end with the others' E-step: they cost about what
  // F / 2 units of distance_cost do a pair (measured at 1M x 16, K = 16: a seventh of the
  // diagonal kind's E-step, a fiftieth of the full kind's).
  const bool early_sums = sums_wanted && m->share.alone();
  std::vector<int> start(parts + 1);
  start[0] = 1;
  if (early_sums && parts > 1) {
    const double e = kind.distance_cost(F), f = 0.5 * F;
    const double first_rows = static_cast<double>(N) * e / ((parts - 1) * (e + f) + e);
    start[1] = 1 + static_cast<int>(first_rows / BLOCK) * BLOCK;
    for (int part = 2; part <= parts; part++) start[part] = em_range_start(start[1], N, parts - 1, part - 1, BLOCK);
  } else {
    for (int part = 1; part <= parts; part++) start[part] = em_range_start(1, N, parts, part, BLOCK);
  }
  if (early_sums) start_early_mean_sums(m);
  em_run_parts(parts, [&](int part) {
    const int first = start[part], end = start[part + 1];
    const bool sums = early_sums && part == 0;
    const estep_block block = scratch[part]->block();
    for (int i = first; i < end; i += BLOCK) {
      const int count = end - i < BLOCK ? end - i : BLOCK;
      kernels.posteriors_of_block(m, i, count, distances, block);
      if (sums) add_early_mean_sums(m, i, i + count - 1);
      if (log_density) {
        // Each point's terms summed in class order, the points side by side (they vectorise).
        double sum[BLOCK] = {};
        for (int k = 1; k <= K; k++)
          for (int b = 0; b < BLOCK; b++) sum[b] += block.terms[static_cast<long>(k) * BLOCK + b];
        for (int b = 0; b < count; b++)
          log_density[i - 1 + b] = block.largest[b] + (exponent == 1.0 ? std::log(sum[b]) : std::log(sum[b]) / exponent);
      }
    }
  });
  m->early.taken = early_sums;
  m->early.rows = start[1] - 1;
}

double log_determinant_scalar(em_memory *m, int k) {
  return std::log(m->class_variances.scalar[k]) * m->features;
}

double log_determinant_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) sum += std::log(variances[j]);
  return sum;
}

double log_determinant_full(em_memory *m, int k) {
  return std::log(det_copy_alloc_dmat(m->class_variances.full[k], m->features));
}

double log_determinant_tied(em_memory *m, int k) {
  if (k == 1) m->class_variances.shared_log_det = log_determinant_full(m, 1);
  return m->class_variances.shared_log_det;
}

double mahalanobis_scalar(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d;
  }
  return m->inv_covariance.scalar[k] * sum;
}

double mahalanobis_diag(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k], *inverse = m->inv_covariance.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d * inverse[j];
  }
  return sum;
}

double mahalanobis_full(em_memory *m, int i, int k) {
  // The product inverse x difference is taken one column at a time (its entries are needed
  // only for the dot product), so nothing is allocated per call.
  const int F = m->features;
  const double *x = m->data[i], *mean = m->class_means[k];
  double *const *inverse = m->inv_covariance.full[k];
  double sum = 0.0;
  for (int c = 1; c <= F; c++) {
    double entry = 0.0;
    for (int r = 1; r <= F; r++) entry = inverse[r][c] * (x[r] - mean[r]) + entry;
    sum += entry * (x[c] - mean[c]);
  }
  return sum;
}

void inv_covariance_scalar(em_memory *m, int k) {
  m->inv_covariance.scalar[k] = 1.0 / m->class_variances.scalar[k];
}

void inv_covariance_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double *inverse = m->inv_covariance.diagonal[k];
  for (int j = 1; j <= m->features; j++) inverse[j] = 1.0 / variances[j];
}

void inv_covariance_full(em_memory *m, int k) {
  invert_copy_alloc_sym_dmat(m->class_variances.full[k], m->features, m->inv_covariance.full[k]);
}

void inv_covariance_tied(em_memory *m, int k) {
  if (k == 1) {
    inv_covariance_full(m, 1);
    return;
  }
  const int F = m->features;
  double *const *from = m->inv_covariance.full[1];
  double *const *to = m->inv_covariance.full[k];
  for (int r = 1; r <= F; r++)
    for (int s = 1; s <= F; s++) to[r][s] = from[r][s];
}

}  // namespace mogem::detail
