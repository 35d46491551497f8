#include "engine/em_mstep.h"

#include <cmath>
#include <vector>

#include "engine/kernels/block.h"
#include "engine/em_classify.h"
#include "engine/kernels/parallel.h"
#include "nr/nr_scoped.h"
#include "normalizations/norm_data.h"

namespace mogem::detail {

namespace {

// Points visited together: a block of data rows stays in cache while every class of a part
// adds it in, so the data stream through memory once per update rather than once per class.
constexpr int BLOCK = EM_BLOCK;

void rescale_means_if_needed(em_memory *m) {
  if (need_norm(m)) euclidean_norm(m->class_means, m->classes, m->features);
}

// One share of an update: class k, features (or covariance rows) first..last.
struct unit {
  int k, first, last;
};

// The classes 1..K whose effective weight N x P_j[k] is not 0 (the others are skipped and keep
// their model), each cut into enough feature ranges that `parts` parts all get work.
std::vector<unit> weighted_units(em_memory *m, int parts) {
  const int K = m->classes, F = m->features;
  const int pieces = K >= parts ? 1 : (parts + K - 1) / K;
  std::vector<unit> units;
  for (int k = 1; k <= K; k++) {
    if (m->P_j[k] * m->datapoints == 0.0) continue;
    for (int piece = 0; piece < pieces; piece++) {
      const int first = em_range_start(1, F, pieces, piece, 1), end = em_range_start(1, F, pieces, piece + 1, 1);
      if (first < end) units.push_back({k, first, end - 1});
    }
  }
  return units;
}

// Shares the units among at most `parts` parts and runs, in each part, over the points in
// blocks: block(part, first, last) once per block, then add(part, unit, first, last) for each
// of the part's units, so that every unit sees the blocks in ascending order.
template <typename Block, typename Add>
void over_units(em_memory *m, const std::vector<unit> &units, int parts, Block block, Add add) {
  const int N = m->datapoints;
  const int count = static_cast<int>(units.size());
  if (count == 0) return;
  if (parts > count) parts = count;
  em_run_parts(parts, [&](int part) {
    const int from = em_range_start(0, count - 1, parts, part, 1), to = em_range_start(0, count - 1, parts, part + 1, 1);
    for (int i = 1; i <= N; i += BLOCK) {
      const int last = i + BLOCK - 1 < N ? i + BLOCK - 1 : N;
      block(part, i, last);
      for (int u = from; u < to; u++) add(part, units[u], i, last);
    }
  });
}

void no_block(int, int, int) {}

int parts_for(em_memory *m, double per_point) {
  return em_parts_for(static_cast<double>(m->datapoints) * m->classes * per_point, m->threads, m->classes * m->features);
}

// Adds w x to mean[j0 .. j0 + 4V - 1] (and x (w x) to variance[..] when SQUARES) for the
// points first..last, point by point; the sums stay in registers for the whole block.
template <int V, bool SQUARES>
__attribute__((always_inline)) inline void add_weighted_rows(em_memory *m, const double *posterior, int first, int last, int j0, double *mean,
                              double *variance) {
  em_lanes sum[V], square[V];
  #pragma GCC unroll 4
  for (int v = 0; v < V; v++) {
    em_load(sum[v], mean + j0 + 4 * v);
    if (SQUARES) em_load(square[v], variance + j0 + 4 * v);
  }
  for (int i = first; i <= last; i++) {
    const double w = posterior[i];
    if (w == 0.0) continue;
    const double *x = m->data[i] + j0;
    const em_lanes weight = {w, w, w, w};
    #pragma GCC unroll 4
    for (int v = 0; v < V; v++) {
      em_lanes value;
      em_load(value, x + 4 * v);
      sum[v] += weight * value;
      if (SQUARES) square[v] += value * (weight * value);
    }
  }
  #pragma GCC unroll 4
  for (int v = 0; v < V; v++) {
    em_store(mean + j0 + 4 * v, sum[v]);
    if (SQUARES) em_store(variance + j0 + 4 * v, square[v]);
  }
}

template <bool SQUARES>
__attribute__((always_inline)) inline void add_unit(em_memory *m, const unit &u, int first, int last) {
  const double *posterior = m->P_j_x[u.k];
  double *mean = m->class_means[u.k];
  double *variance = SQUARES ? m->class_variances.diagonal[u.k] : nullptr;
  int j = u.first;
  for (; j + 15 <= u.last; j += 16) add_weighted_rows<4, SQUARES>(m, posterior, first, last, j, mean, variance);
  for (; j + 7 <= u.last; j += 8) add_weighted_rows<2, SQUARES>(m, posterior, first, last, j, mean, variance);
  for (; j + 3 <= u.last; j += 4) add_weighted_rows<1, SQUARES>(m, posterior, first, last, j, mean, variance);
  for (; j <= u.last; j++) {
    for (int i = first; i <= last; i++) {
      const double w = posterior[i];
      if (w == 0.0) continue;
      const double x = m->data[i][j];
      mean[j] += w * x;
      if (SQUARES) variance[j] += x * (w * x);
    }
  }
}

__attribute__((target_clones("avx2", "default"))) void add_means(em_memory *m, const unit &u, int first, int last) {
  add_unit<false>(m, u, first, last);
}

__attribute__((target_clones("avx2", "default"))) void add_means_and_squares(em_memory *m, const unit &u, int first,
                                                                           int last) {
  add_unit<true>(m, u, first, last);
}

// Adds the weighted squared distances of the block's points (coordinates laid out feature by
// feature in x, `count` of them) from the mean of class k to *sum, point by point in ascending
// order; squared[] holds BLOCK working values.
__attribute__((target_clones("avx2", "default"))) void add_squared_distances(em_memory *m, int k, int first, int count,
                                                                           const double *__restrict x,
                                                                           double *__restrict squared, double *sum) {
  const double *posterior = m->P_j_x[k] + first;
  // (x - mean)^2 is (mean - x)^2 to the last bit: the two differences differ only in sign.
  em_block_squared_distances(x, m->class_means[k] + 1, nullptr, m->features, squared);
  double s = *sum;
  for (int b = 0; b < count; b++) {
    const double w = posterior[b];
    if (w == 0.0) continue;
    s += w * squared[b];
  }
  *sum = s;
}

// FULL: adds, for the `count` points of a block held as differences from the class mean
// (d, `width` entries a point, zero padded) and weighted differences (wd, F entries a point),
// wd[r] x d[s] to sums[r][s] for R rows from r and 4C columns from q, point by point; the sums
// stay in registers for the whole block.
template <int R, int C>
__attribute__((always_inline)) inline void add_product_tile(const double *d, const double *wd, int count, int F,
                                                            int width, int r, int q, double *sums) {
  em_lanes sum[R][C];
  #pragma GCC unroll 4
  for (int rr = 0; rr < R; rr++)
    #pragma GCC unroll 4
    for (int cc = 0; cc < C; cc++) em_load(sum[rr][cc], sums + static_cast<long>(r - 1 + rr) * width + q + 4 * cc);
  for (int t = 0; t < count; t++, d += width, wd += F) {
    em_lanes column[C];
    #pragma GCC unroll 4
    for (int cc = 0; cc < C; cc++) em_load(column[cc], d + q + 4 * cc);
    #pragma GCC unroll 4
    for (int rr = 0; rr < R; rr++) {
      const double w = wd[r - 1 + rr];
      const em_lanes weighted = {w, w, w, w};
      #pragma GCC unroll 4
      for (int cc = 0; cc < C; cc++) sum[rr][cc] += weighted * column[cc];
    }
  }
  #pragma GCC unroll 4
  for (int rr = 0; rr < R; rr++)
    #pragma GCC unroll 4
    for (int cc = 0; cc < C; cc++) em_store(sums + static_cast<long>(r - 1 + rr) * width + q + 4 * cc, sum[rr][cc]);
}

template <int R>
__attribute__((always_inline)) inline void add_product_rows(const double *d, const double *wd, int count, int F,
                                                            int width, int r, double *sums) {
  // Columns from the 4-aligned one at or left of the diagonal; those left of it are never used.
  for (int q = (r - 1) & ~3; q < width; q += 16) {
    switch ((width - q) / 4 < 4 ? (width - q) / 4 : 4) {
      case 1: add_product_tile<R, 1>(d, wd, count, F, width, r, q, sums); break;
      case 2: add_product_tile<R, 2>(d, wd, count, F, width, r, q, sums); break;
      case 3: add_product_tile<R, 3>(d, wd, count, F, width, r, q, sums); break;
      default: add_product_tile<R, 4>(d, wd, count, F, width, r, q, sums); break;
    }
  }
}

// FULL: the upper-triangle products of rows u.first..u.last for the points first..last, added
// to the class's private sums (F rows of `width` entries, width a multiple of 4). d and wd are
// working storage of BLOCK x width and BLOCK x F values; d's padding columns must be 0.
__attribute__((target_clones("avx2", "default"))) void add_products(em_memory *m, const unit &u, int first, int last,
                                                                  double *__restrict sums, int width,
                                                                  double *__restrict d, double *__restrict wd) {
  const int F = m->features;
  const double *posterior = m->P_j_x[u.k];
  const double *mean = m->class_means[u.k];
  int count = 0;  // the points of the block the class has weight on
  for (int i = first; i <= last; i++) {
    const double w = posterior[i];
    if (w == 0.0) continue;
    const double *x = m->data[i];
    double *dp = d + static_cast<long>(count) * width;
    double *wdp = wd + static_cast<long>(count) * F;
    for (int s = 1; s <= F; s++) dp[s - 1] = mean[s] - x[s];
    for (int r = u.first; r <= u.last; r++) wdp[r - 1] = w * dp[r - 1];
    count++;
  }
  if (count == 0) return;
  int r = u.first;
  for (; r + 1 <= u.last; r += 2) add_product_rows<2>(d, wd, count, F, width, r, sums);
  if (r <= u.last) add_product_rows<1>(d, wd, count, F, width, r, sums);
}

}  // namespace

double update_P_j(em_memory *m) {
  const int N = m->datapoints, K = m->classes;
  const double points = N;
  std::vector<double> sums(K + 1, 0.0);
  const int parts = em_parts_for(static_cast<double>(N) * K, m->threads, K);
  em_run_parts(parts, [&](int part) {
    for (int k = em_range_start(1, K, parts, part, 1); k < em_range_start(1, K, parts, part + 1, 1); k++) {
      const double *posterior = m->P_j_x[k];
      double sum = 0.0;
      for (int i = 1; i <= N; i++) sum += posterior[i];
      sums[k] = sum;
    }
  });
  double delta = 0.0;
  for (int k = 1; k <= K; k++) {
    const double weight = sums[k] / points;
    delta += std::fabs(weight - m->P_j[k]);
    m->P_j[k] = weight;
  }
  return delta;
}

void update_means(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  const int parts = parts_for(m, F);
  const std::vector<unit> units = weighted_units(m, parts);
  for (const unit &u : units)
    for (int j = u.first; j <= u.last; j++) m->class_means[u.k][j] = 0.0;
  over_units(m, units, parts, no_block,
             [m](int, const unit &u, int first, int last) { add_means(m, u, first, last); });
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    for (int j = 1; j <= F; j++) m->class_means[k][j] *= inv;
  }
  rescale_means_if_needed(m);
}

void update_variances_scalar(em_memory *m) {
  const int N = m->datapoints, F = m->features, K = m->classes;
  const double values = N * F;  // an integer product, as the count of summed squares
  const int parts = em_parts_for(static_cast<double>(N) * K * F, m->threads, K);
  std::vector<unit> units;  // whole classes: each has a single sum
  for (int k = 1; k <= K; k++)
    if (values * m->P_j[k] != 0.0) units.push_back({k, 1, F});
  std::vector<double> sums(K + 1, 0.0);
  scoped_dmatrix squared(0, parts - 1, 0, BLOCK - 1);
  scoped_dmatrix coordinates(0, parts - 1, 0, static_cast<long>(F) * BLOCK - 1);
  over_units(
      m, units, parts,
      [&](int part, int first, int last) {  // the block's coordinates, feature by feature
        double *x = coordinates.get()[part];
        for (int b = 0; b < BLOCK; b++)
          for (int j = 0; j < F; j++) x[j * BLOCK + b] = first + b <= last ? m->data[first + b][j + 1] : 0.0;
      },
      [&](int part, const unit &u, int first, int last) {
        add_squared_distances(m, u.k, first, last - first + 1, coordinates.get()[part], squared.get()[part],
                              &sums[u.k]);
      });
  for (const unit &u : units) {
    double variance = sums[u.k] / (values * m->P_j[u.k]);
    if (variance < VARIANCE_FLOOR) variance = VARIANCE_FLOOR;
    m->class_variances.scalar[u.k] = variance;
  }
}

void update_means_and_variances_diag(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  const int parts = parts_for(m, 2.0 * F);
  const std::vector<unit> units = weighted_units(m, parts);
  for (const unit &u : units)
    for (int j = u.first; j <= u.last; j++) m->class_means[u.k][j] = m->class_variances.diagonal[u.k][j] = 0.0;
  over_units(m, units, parts, no_block,
             [m](int, const unit &u, int first, int last) { add_means_and_squares(m, u, first, last); });
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    double *mean = m->class_means[k];
    double *variance = m->class_variances.diagonal[k];
    for (int j = 1; j <= F; j++) {
      mean[j] *= inv;
      variance[j] = variance[j] * inv - mean[j] * mean[j];
      if (variance[j] < VARIANCE_FLOOR) variance[j] = VARIANCE_FLOOR;
    }
  }
  rescale_means_if_needed(m);
}

void update_variances_full(em_memory *m) {
  const int N = m->datapoints, F = m->features, K = m->classes;
  const int width = (F + 3) & ~3;
  const int parts = parts_for(m, 0.5 * F * F);
  const std::vector<unit> units = weighted_units(m, parts);
  // Private sums, one F x width matrix per class, and the working storage of each part.
  scoped_dvector sums(0, static_cast<long>(K) * F * width - 1);
  scoped_dmatrix differences(0, parts - 1, 0, static_cast<long>(BLOCK) * width - 1);
  scoped_dmatrix weighted(0, parts - 1, 0, static_cast<long>(BLOCK) * F - 1);
  for (long e = 0; e < static_cast<long>(K) * F * width; e++) sums.get()[e] = 0.0;
  for (int part = 0; part < parts; part++)
    for (long e = 0; e < static_cast<long>(BLOCK) * width; e++) differences.get()[part][e] = 0.0;
  over_units(m, units, parts, no_block, [&](int part, const unit &u, int first, int last) {
    add_products(m, u, first, last, sums.get() + static_cast<long>(u.k - 1) * F * width, width, differences.get()[part],
                 weighted.get()[part]);
  });
  for (int k = 1; k <= K; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    double **V = m->class_variances.full[k];
    const double *class_sums = sums.get() + static_cast<long>(k - 1) * F * width;
    for (int r = 1; r <= F; r++)
      for (int s = r; s <= F; s++) V[r][s] = class_sums[static_cast<long>(r - 1) * width + (s - 1)] * inv;
    for (int r = 1; r <= F; r++)
      if (V[r][r] < VARIANCE_FLOOR) V[r][r] = VARIANCE_FLOOR;
    for (int r = 1; r <= F; r++)
      for (int s = r + 1; s <= F; s++) V[s][r] = V[r][s];
  }
}

void no_op(em_memory *) {}

}  // namespace mogem::detail
