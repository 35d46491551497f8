// The hole record, the start's filled view of the data and the E-step with holes (holes.h).
#include "engine/holes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_estep.h"
#include "engine/failures.h"
#include "engine/holes_rows.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"
#include "engine/processes.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

bool keeps_conditionals(const em_memory *m) { return m->kind->kind == FULL || m->kind->kind == TIED; }

}  // namespace

bool data_have_holes(const em_memory *m) {
  const int N = m->datapoints, F = m->features;
  double holes = 0.0;
  sum_over_processes(
      m->share, 1,
      [&](int) {
        return std::vector<sum_span>{{&holes, 1}};
      },
      [&](int) {
        for (int i = 1; i <= N; i++)
          for (int j = 1; j <= F; j++)
            if (std::isnan(m->data[i][j])) holes += 1.0;
      });
  return holes > 0.0;
}

hole_state holes_of(const em_memory *m) {
  const int N = m->datapoints, F = m->features, K = m->classes;
  hole_state h;
  h.found = find_hole_patterns(N > 0 ? &m->data[1][1] : nullptr, N, F);
  h.classes = K;
  if (!keeps_conditionals(m)) return h;
  h.first_missing.resize(static_cast<std::size_t>(N) + 1);
  for (int i = 1; i <= N; i++)
    h.first_missing[i] = h.first_missing[i - 1] + h.found.patterns[h.found.pattern_of_row[i - 1]].missing.size();
  h.conditional_means.resize(h.first_missing[N] * K);
  const std::size_t P = h.found.patterns.size();
  h.first_block.resize(P + 1);
  for (std::size_t p = 0; p < P; p++) {
    const std::size_t q = h.found.patterns[p].missing.size();
    h.first_block[p + 1] = h.first_block[p] + q * q;
  }
  h.conditional_covariances.resize(h.first_block[P] * K);
  h.row_terms.resize(static_cast<std::size_t>(N) * K);
  return h;
}

void fill_holes_for_start(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  one_based_vector<double> means(F);
  column_means_over_processes(m->share, m->data.get(), N, F, means.get());
  // Every process holds the same means, so every process refuses alike.
  together(m->share, [&] {
    for (int j = 1; j <= F; j++)
      if (std::isnan(means[j]))
        refuse(
            "%s have no observed value in column %d: a feature that is missing in every row cannot be fitted; "
            "remove the column",
            m->params->data_name.c_str(), j);
  });
  const hole_patterns &found = m->holes->found;
  for (int i = 1; i <= N; i++)
    for (int j : found.patterns[found.pattern_of_row[i - 1]].missing) m->data[i][j] = means[j];
  if (m->params->center_data) {
    for (int j = 1; j <= F; j++) m->centre[j] = means[j];
    subtract_from_rows(m->data.get(), N, F, m->centre.get());
  }
}

void reopen_holes(em_memory *m) {
  const hole_patterns &found = m->holes->found;
  for (int i = 1; i <= m->datapoints; i++)
    for (int j : found.patterns[found.pattern_of_row[i - 1]].missing) m->data[i][j] = NAN;
}

namespace {

// Posteriors of row i from its classes' log densities t[1..K] (minus half of distance plus log
// determinant), as the complete-data kernels take them: the largest (class 1's on ties; a NaN
// never wins) taken off, the log weight added, times the exponent, exponentiated, normalised.
void posteriors_of_row(em_memory *m, int i, double *t, double *log_density) {
  const int K = m->classes;
  const double exponent = m->inv_temp;
  double largest = t[1];
  for (int k = 2; k <= K; k++) largest = t[k] > largest ? t[k] : largest;
  for (int k = 1; k <= K; k++) t[k] = std::exp(exponent * ((t[k] - largest) + m->log_p_j[k]));
  double sum = 0.0;
  for (int k = 1; k <= K; k++) sum += t[k];
  const double reciprocal = 1.0 / sum;
  for (int k = 1; k <= K; k++) m->P_j_x[k][i] = t[k] * reciprocal;
  if (log_density) log_density[i - 1] = largest + (exponent == 1.0 ? std::log(sum) : std::log(sum) / exponent);
}

// The first pattern of each of `parts` contiguous runs of patterns of about equal work, and P
// at the end.
std::vector<int> pattern_runs(const hole_patterns &found, int parts, double per_row, double per_pattern) {
  const int P = static_cast<int>(found.patterns.size());
  std::vector<double> before(P + 1, 0.0);
  for (int p = 0; p < P; p++) before[p + 1] = before[p] + per_pattern + per_row * found.patterns[p].rows.size();
  std::vector<int> first(parts + 1, P);
  first[0] = 0;
  int p = 0;
  for (int part = 1; part < parts; part++) {
    while (p < P && before[p] < before[P] * part / parts) p++;
    first[part] = p;
  }
  return first;
}

// The first class and pattern whose observed block could not be factorised, in pattern order.
struct factor_failure {
  int pattern = INT_MAX;
  int k = 0;
};

// The rows of a pattern without holes, `rows` of them, scored as the complete-data E-step scores
// a row (find_P_j_x: the kind's block distances, m->log_det), so that a complete row gets the
// same bits whether or not other rows have holes. Their class terms go to row_terms.
void complete_rows_terms(em_memory *m, const int *rows, int count) {
  const int K = m->classes, F = m->features;
  const block_distances_op distances = m->kernels->*(m->kind->block_distances);
  kernel_buffer coordinates(static_cast<long>(F) * EM_BLOCK), differences(static_cast<long>(F) * EM_BLOCK),
      out(EM_BLOCK);
  const estep_block block{coordinates.get(), differences.get(), nullptr, nullptr, nullptr};
  for (int r = 0; r < count; r += EM_BLOCK) {
    const int n = count - r < EM_BLOCK ? count - r : EM_BLOCK;
    for (int j = 0; j < F; j++)
      for (int b = 0; b < EM_BLOCK; b++)
        coordinates.get()[j * EM_BLOCK + b] = b < n ? m->data[rows[r + b]][j + 1] : 0.0;
    for (int k = 1; k <= K; k++) {
      distances(m, k, block, out.get());
      for (int b = 0; b < n; b++)
        m->holes->row_terms[static_cast<std::size_t>(rows[r + b] - 1) * K + (k - 1)] =
            -0.5 * (out.get()[b] + m->log_det[k]);
    }
  }
}

// Patterns first..end-1 of a model with full covariances (FULL, TIED): each pattern's observed
// block factorised once per class (once for all classes when they share it), the conditional
// covariances and each row's conditional means kept for the M-step, and its rows' class terms
// left in row_terms.
factor_failure full_patterns(em_memory *m, int first, int end) {
  const int K = m->classes, F = m->features;
  const bool shared = m->kind->kind == TIED;
  const double log_two_pi = std::log(EM_TWO_PI);
  hole_state &h = *m->holes;
  const hole_patterns &found = h.found;
  const int factored = shared ? 1 : K;
  std::vector<pattern_factor> factors(factored);
  // The precision route (hole_blocks.h) for each class whose covariance factorises: a pattern
  // then factorises only its missing block. It is taken for a pattern missing at most twice as
  // many features as it has (past that the q x q block costs more than the observed one), a
  // choice of the pattern alone, so every thread and process count takes the same route for a row.
  std::vector<precision_factor> precisions(factored);
  std::vector<char> has_precision(factored);
  for (int k = 1; k <= factored; k++)
    has_precision[k - 1] = factor_precision(&m->class_variances.full[k][1][1], F, &precisions[k - 1]);
  std::vector<missing_factor> blocks(factored);
  std::vector<char> by_precision(factored);
  // The same, the classes side by side (precision_distances_by_class): the precisions and means
  // laid out once, each pattern's blocks as it comes.
  const int C = class_lanes(), groups = (K + C - 1) / C;
  auto lane_class = [&](int g, int c) { return std::min(g * C + c, K - 1) + 1; };  // spare lanes: class K
  std::vector<double> lane_precisions(static_cast<std::size_t>(groups) * F * F * C),
      lane_means(static_cast<std::size_t>(groups) * F * C), lane_blocks;
  bool all_precisions = true;
  for (int k = 1; k <= factored; k++) all_precisions = all_precisions && has_precision[k - 1];
  if (all_precisions)
    for (int g = 0; g < groups; g++)
      for (int c = 0; c < C; c++) {
        const int k = lane_class(g, c);
        const std::vector<double> &P = precisions[shared ? 0 : k - 1].precision;
        for (int e = 0; e < F * F; e++) lane_precisions[(static_cast<std::size_t>(g) * F * F + e) * C + c] = P[e];
        for (int j = 1; j <= F; j++) lane_means[(static_cast<std::size_t>(g) * F + j - 1) * C + c] = m->class_means[k][j];
      }
  std::vector<double> terms(static_cast<std::size_t>(K + 1) * HOLE_ROWS), scratch(pattern_scratch(F)),
      values(static_cast<std::size_t>(F) * HOLE_ROWS);
  for (int p = first; p < end; p++) {
    const hole_pattern &pattern = found.patterns[p];
    const std::size_t q = pattern.missing.size();
    if (q == 0) {
      complete_rows_terms(m, pattern.rows.data(), static_cast<int>(pattern.rows.size()));
      continue;
    }
    const int n = static_cast<int>(pattern.observed.size());
    const bool few_missing = q > 0 && q <= 2 * static_cast<std::size_t>(n);
    for (int k = 1; k <= factored; k++) {
      by_precision[k - 1] =
          few_missing && has_precision[k - 1] && factor_missing_block(precisions[k - 1], F, pattern, &blocks[k - 1]);
      if (!by_precision[k - 1] && !factor_pattern(&m->class_variances.full[k][1][1], F, pattern, &factors[k - 1]))
        return {p, k};
    }
    for (int k = 1; k <= K; k++) {
      const int c_at = shared ? 0 : k - 1;
      const std::vector<double> &c = by_precision[c_at] ? blocks[c_at].conditional : factors[c_at].conditional;
      double *to = h.conditional_covariances.data() + h.first_block[p] * K + (k - 1) * q * q;
      for (std::size_t e = 0; e < q * q; e++) to[e] = c[e];
    }
    const int rows = static_cast<int>(pattern.rows.size());
    bool side_by_side = all_precisions && rows < C;
    for (int k = 1; k <= factored; k++) side_by_side = side_by_side && by_precision[k - 1];
    if (side_by_side) {
      // A pattern of few rows: the classes side by side (the same bits as one class at a time).
      const std::size_t per_group = (q * q + q) * C;
      lane_blocks.resize(groups * per_group);
      for (int g = 0; g < groups; g++)
        for (int c = 0; c < C; c++) {
          const missing_factor &f = blocks[shared ? 0 : lane_class(g, c) - 1];
          double *to = lane_blocks.data() + g * per_group;
          for (std::size_t e = 0; e < q * q; e++) to[e * C + c] = f.lower[e];
          for (std::size_t a = 0; a < q; a++) to[(q * q + a) * C + c] = f.inverse_diagonal[a];
        }
      gather_observed(m, pattern, pattern.rows.data(), rows, values.data());
      precision_distances_by_class(m, pattern, lane_precisions.data(), lane_blocks.data(), lane_means.data(),
                                   values.data(), pattern.rows.data(), rows, terms.data(), scratch.data());
      for (int b = 0; b < rows; b++) {
        double *to = h.row_terms.data() + static_cast<std::size_t>(pattern.rows[b] - 1) * K;
        for (int k = 1; k <= K; k++)
          to[k - 1] = -0.5 * (terms[static_cast<std::size_t>(k) * HOLE_ROWS + b] +
                              (blocks[shared ? 0 : k - 1].log_det + log_two_pi * n));
      }
      continue;
    }
    // The pattern's rows a block at a time, in vectors of rows.
    for (int r = 0; r < rows; r += HOLE_ROWS) {
      const int count = rows - r < HOLE_ROWS ? rows - r : HOLE_ROWS;
      gather_observed(m, pattern, pattern.rows.data() + r, count, values.data());
      for (int k = 1; k <= K; k++) {
        const int at = shared ? 0 : k - 1;
        double *distance = terms.data() + static_cast<std::size_t>(k) * HOLE_ROWS;
        double log_det;
        if (by_precision[at]) {
          precision_distances(m, pattern, precisions[at], blocks[at], k, values.data(), pattern.rows.data() + r, count,
                              distance, scratch.data());
          log_det = blocks[at].log_det;
        } else {
          pattern_distances(m, pattern, factors[at], k, values.data(), pattern.rows.data() + r, count, distance,
                            scratch.data());
          log_det = factors[at].log_det;
        }
        for (int b = 0; b < count; b++) distance[b] = -0.5 * (distance[b] + (log_det + log_two_pi * n));
      }
      for (int b = 0; b < count; b++) {
        double *to = h.row_terms.data() + static_cast<std::size_t>(pattern.rows[r + b] - 1) * K;
        for (int k = 1; k <= K; k++) to[k - 1] = terms[static_cast<std::size_t>(k) * HOLE_ROWS + b];
      }
    }
  }
  return {};
}

}  // namespace

void holes_posteriors(em_memory *m, int threads) {
  const int K = m->classes, N = m->datapoints, F = m->features;
  const em_kind kind = m->kind->kind;
  const bool full = kind == FULL || kind == TIED;
  // Per-class values of the diagonal kinds, on the calling thread.
  std::vector<double> log_variance, inverse;
  if (!full) {
    const long per_class = kind == SCALAR ? 1 : F;
    log_variance.resize(static_cast<std::size_t>(K + 1) * per_class + 1);
    inverse.resize(log_variance.size());
    for (int k = 1; k <= K; k++) {
      if (kind == SCALAR) {
        log_variance[k] = std::log(m->class_variances.scalar[k]);
        inverse[k] = 1.0 / m->class_variances.scalar[k];
      } else {
        for (int j = 1; j <= F; j++) {
          log_variance[static_cast<long>(k) * F + j] = std::log(m->class_variances.diagonal[k][j]);
          inverse[static_cast<long>(k) * F + j] = 1.0 / m->class_variances.diagonal[k][j];
        }
      }
    }
  }
  for (int k = 1; k <= K; k++) m->log_p_j[k] = std::log(m->P_j[k]);
  if (N < 1 || K < 1) return;

  double *const log_density = m->inv_temp > 0.0 ? m->log_density : nullptr;
  if (!full) {
    // The diagonal kinds need no pattern: their holes are masked row by row.
    const int blocks = static_cast<int>((static_cast<long long>(N) + HOLE_ROWS - 1) / HOLE_ROWS);
    const int parts = em_parts_for(static_cast<double>(N) * K * (2.0 * F + 32.0), threads, blocks);
    std::vector<std::vector<double>> scratch(parts, std::vector<double>(diagonal_scratch(F, K)));
    // With few patterns for the rows, each pattern's observed log determinants are summed once
    // per step, not once per row; the sums are the same either way.
    const hole_patterns &found = m->holes->found;
    const std::size_t P = found.patterns.size();
    std::vector<double> pattern_log_det;
    if (P * 4 <= static_cast<std::size_t>(N)) {
      const double log_two_pi = std::log(EM_TWO_PI);
      pattern_log_det.resize(P * K);
      for (std::size_t p = 0; p < P; p++) {
        const std::vector<int> &o = found.patterns[p].observed;
        const double n = static_cast<double>(o.size());
        for (int k = 1; k <= K; k++) {
          double sum = 0.0;
          if (kind == SCALAR)
            sum = log_variance[k] * n;
          else
            for (int j : o) sum += log_variance[static_cast<long>(k) * F + j];
          pattern_log_det[p * K + (k - 1)] = sum + log_two_pi * n;
        }
      }
    }
    em_run_parts(parts, [&](int part) {
      diagonal_posteriors(m, em_range_start(1, N, parts, part, HOLE_ROWS),
                          em_range_start(1, N, parts, part + 1, HOLE_ROWS), log_variance.data(), inverse.data(),
                          pattern_log_det.empty() ? nullptr : pattern_log_det.data(), found.pattern_of_row.data(),
                          log_density, scratch[part].data());
    });
    return;
  }
  const hole_patterns &found = m->holes->found;
  const int P = static_cast<int>(found.patterns.size());
  // Rows without a hole take the complete-data E-step's inverses and log determinants (a
  // covariance that cannot be inverted ends the run alike).
  bool complete_rows = false;
  for (const hole_pattern &pattern : found.patterns) complete_rows = complete_rows || pattern.missing.empty();
  if (complete_rows) class_constants(m);
  const double per_row = static_cast<double>(K) * F * F;
  const double per_pattern = static_cast<double>(K) * F * F * F / 3.0;
  const int parts = em_parts_for(static_cast<double>(N) * per_row, threads, P);
  const std::vector<int> first = pattern_runs(found, parts, per_row, per_pattern);
  std::vector<factor_failure> failures(parts);
  em_run_parts(parts, [&](int part) { failures[part] = full_patterns(m, first[part], first[part + 1]); });
  // The first failure in pattern order, whatever the parts: the same class is named on any
  // thread count.
  factor_failure earliest;
  for (const factor_failure &f : failures)
    if (f.pattern < earliest.pattern) earliest = f;
  if (earliest.pattern != INT_MAX)
    throw_singular_covariance(m, earliest.k, error(error::kind::numerical_failure, "NR_dcholdc failed"));
  // The posteriors row by row, in row order.
  const int row_parts = em_parts_for(static_cast<double>(N) * K * 32.0, threads, N);
  em_run_parts(row_parts, [&](int part) {
    std::vector<double> t(K + 1);
    const double *terms = m->holes->row_terms.data();
    for (int i = em_range_start(1, N, row_parts, part, 1); i < em_range_start(1, N, row_parts, part + 1, 1); i++) {
      for (int k = 1; k <= K; k++) t[k] = terms[static_cast<std::size_t>(i - 1) * K + (k - 1)];
      posteriors_of_row(m, i, t.data(), log_density);
    }
  });
}

void fill_holes_by_expectation(em_memory *m, double *out) {
  const int N = m->datapoints, F = m->features, K = m->classes;
  const hole_state &h = *m->holes;
  const bool full = keeps_conditionals(m);
  for (int i = 1; i <= N; i++) {
    double *row = out + static_cast<long>(i - 1) * F;
    for (int j = 1; j <= F; j++) row[j - 1] = m->data[i][j];
    const std::vector<int> &missing = h.found.patterns[h.found.pattern_of_row[i - 1]].missing;
    const std::size_t q = missing.size();
    for (std::size_t a = 0; a < q; a++) {
      const int j = missing[a];
      double sum = 0.0;
      for (int k = 1; k <= K; k++) {
        const double expected =
            full ? h.conditional_means[h.first_missing[i - 1] * K + (k - 1) * q + a] : m->class_means[k][j];
        sum += m->P_j_x[k][i] * expected;
      }
      row[j - 1] = sum;
    }
  }
}

}  // namespace mogem::detail
