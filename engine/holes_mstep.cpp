// The M-step with holes (holes.h): the complete-data M-step's structure (weights, means, then
// the covariances around the new means; floors, reg_covar and classes of weight 0 alike) on the
// expected sufficient statistics of the last E-step. Each class's accumulators take the rows in
// ascending order and go on through the processes in rank order; the classes are shared among
// the threads, so the bits depend on neither count.
#include <cmath>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_mstep.h"
#include "engine/holes.h"
#include "engine/holes_rows.h"
#include "engine/kernels/parallel.h"
#include "engine/processes.h"

namespace mogem::detail {

namespace {

double all_points(const em_memory *m) { return static_cast<double>(m->share.total); }
bool weighted(const em_memory *m, int k) { return m->P_j[k] * all_points(m) != 0.0; }

// add(from, to) for runs of classes from..to-1 that together are 1..K, each adding this
// process's rows into its classes' accumulators, the runs shared among the parts, after `spans`
// (the accumulators) came from the process before; per_row: the arithmetic per row and class.
template <typename Add>
void over_class_runs(em_memory *m, double per_row, std::vector<sum_span> spans, Add add) {
  const int K = m->classes, N = m->datapoints;
  const int parts = em_parts_for(static_cast<double>(N) * K * per_row, m->threads, K);
  sum_over_processes(
      m->share, 1, [&](int) { return spans; },
      [&](int) {
        em_run_parts(parts, [&](int part) {
          add(em_range_start(1, K, parts, part, 1), em_range_start(1, K, parts, part + 1, 1));
        });
      });
}

// over_class_runs, add(k) for one class at a time.
template <typename Add>
void over_classes(em_memory *m, double per_row, std::vector<sum_span> spans, Add add) {
  over_class_runs(m, per_row, std::move(spans), [&](int from, int to) {
    for (int k = from; k < to; k++) add(k);
  });
}

// The model before the update: the missing values' expectations of the scalar and diagonal
// kinds come from it.
struct old_model {
  one_based_matrix means;      // K x F
  one_based_matrix variances;  // K x F: each feature's variance
};

old_model old_of(em_memory *m) {
  const int K = m->classes, F = m->features;
  old_model old{one_based_matrix(K, F), one_based_matrix(K, F)};
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) old.means[k][j] = m->class_means[k][j];
  class_variances(m, old.variances.get());
  return old;
}

// The weights and the means (DIAG: and each feature's second moment, in
// class_variances.diagonal, as sums): sum of w x^ over the rows, x^ the observed value or the
// expected one; the second moments w x^2 for an observed value and w (old variance + old
// mean^2) for a hole. Returns the weights' change; a class left without
// weight keeps its model.
double weights_and_means(em_memory *m, old_model &old, bool squares) {
  const int K = m->classes, F = m->features;
  std::vector<double> weights(K + 1, 0.0);
  one_based_matrix sums(K, F), second(K, F);
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) sums[k][j] = second[k][j] = 0.0;
  std::vector<sum_span> spans{{&weights[1], static_cast<std::size_t>(K)},
                              {&sums[1][1], static_cast<std::size_t>(K) * F}};
  if (m->kind->kind == SCALAR || m->kind->kind == DIAG) {
    // The diagonal kinds: a hole's expectations are the old class's, the same for every row, so
    // the rows give three sums (w x and x (w x) over the observed values, w over the holes),
    // each handed on through the processes in row order, and the expected sums follow from
    // them: half the arithmetic of adding each row's expectations.
    one_based_matrix holes(K, F);
    for (int k = 1; k <= K; k++)
      for (int j = 1; j <= F; j++) holes[k][j] = 0.0;
    spans.push_back({&second[1][1], static_cast<std::size_t>(K) * F});
    spans.push_back({&holes[1][1], static_cast<std::size_t>(K) * F});
    over_class_runs(m, squares ? 3.0 * F : 2.0 * F, spans, [&](int from, int to) {
      diagonal_sums(m, from, to, squares, weights.data(), sums.get(), second.get(), holes.get());
    });
    for (int k = 1; k <= K; k++)
      for (int j = 1; j <= F; j++) {
        const double mu = old.means[k][j];
        sums[k][j] = sums[k][j] + mu * holes[k][j];
        second[k][j] = second[k][j] + (old.variances[k][j] + mu * mu) * holes[k][j];
      }
  } else {
    // FULL, TIED: a hole's expectation is its conditional mean, kept by the E-step.
    over_class_runs(m, 2.0 * F, spans, [&](int from, int to) { full_means(m, from, to, weights.data(), sums.get()); });
  }
  const double total = all_points(m);
  double delta = 0.0;
  for (int k = 1; k <= K; k++) {
    const double weight = weights[k] / total;
    delta += std::fabs(weight - m->P_j[k]);
    m->P_j[k] = weight;
    if (!weighted(m, k)) continue;
    const double inv = 1.0 / (m->P_j[k] * total);
    for (int j = 1; j <= F; j++) m->class_means[k][j] = sums[k][j] * inv;
    if (squares)
      for (int j = 1; j <= F; j++) m->class_variances.diagonal[k][j] = second[k][j];
  }
  return delta;
}

// FULL, TIED: each weighted class's expected scatter around its new mean, sum over the rows of
// w d d^T (d = new mean - expected row) plus the sum over the rows of w times the conditional
// covariance on the row's missing block (two sums, each in row order through the processes);
// upper triangle, class k's (r, s) at [((k - 1) F + r - 1) W + s - 1] with W = full_width(F).
std::vector<double> expected_scatters(em_memory *m) {
  const int K = m->classes, F = m->features;
  std::vector<double> sums(static_cast<std::size_t>(K) * F * full_width(F), 0.0), conditional(sums.size(), 0.0);
  over_class_runs(m, 0.5 * F * F, {{sums.data(), sums.size()}, {conditional.data(), conditional.size()}},
                  [&](int from, int to) { full_scatters(m, from, to, sums.data(), conditional.data()); });
  for (std::size_t e = 0; e < sums.size(); e++) sums[e] = sums[e] + conditional[e];
  return sums;
}

}  // namespace

double m_step_holes_scalar(em_memory *m) {
  old_model old = old_of(m);
  const double delta = weights_and_means(m, old, false);
  const int K = m->classes, F = m->features;
  std::vector<double> sums(K + 1, 0.0);
  // Each row's expected squared distance from the new mean: (x - mean)^2 for an observed value,
  // (old mean - mean)^2 + old variance for a hole.
  one_based_matrix hole_terms(K, F);
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) {
      const double d = old.means[k][j] - m->class_means[k][j];
      hole_terms[k][j] = d * d + old.variances[k][j];
    }
  over_class_runs(m, 3.0 * F, {{&sums[1], static_cast<std::size_t>(K)}},
                  [&](int from, int to) { scalar_sums(m, from, to, hole_terms.get(), sums.data()); });
  const double values = static_cast<double>(m->share.total * F);
  for (int k = 1; k <= K; k++) {
    if (!weighted(m, k)) continue;
    double variance = sums[k] / (values * m->P_j[k]);
    hold_at_floor(variance, m->params->variance_floor, m->at_floor);
    m->class_variances.scalar[k] = variance;
  }
  return delta;
}

double m_step_holes_diag(em_memory *m) {
  old_model old = old_of(m);
  const double delta = weights_and_means(m, old, true);
  finish_diagonal_variances(m);
  return delta;
}

double m_step_holes_full(em_memory *m) {
  old_model old = old_of(m);
  const double delta = weights_and_means(m, old, false);
  covariances_from_scatters(m, expected_scatters(m).data(), full_width(m->features));
  return delta;
}

double m_step_holes_tied(em_memory *m) {
  old_model old = old_of(m);
  const double delta = weights_and_means(m, old, false);
  shared_covariance_from_scatters(m, expected_scatters(m).data(), full_width(m->features));
  return delta;
}

}  // namespace mogem::detail
