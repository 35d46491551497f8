// The masked row loops of the scalar and diagonal kinds with holes (holes_rows.h).
#include "engine/holes_rows.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_estep.h"

// One build per instruction set, the processor's chosen when the program starts; every lane
// does the scalar operation and nothing contracts a*b+c, so each gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define HOLE_LOOPS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define HOLE_LOOPS
#endif

// The vectors of the helpers below never cross a call: they are inlined into each build.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace mogem::detail {

namespace {

constexpr int B = HOLE_BLOCK;
constexpr int L = 8;  // doubles of a vector
typedef double vec __attribute__((vector_size(L * sizeof(double))));
constexpr int G = 4;  // vectors of rows whose E-step sums run side by side

__attribute__((always_inline)) inline vec load(const double *p) {
  vec v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline void store(double *p, vec v) { std::memcpy(p, &v, sizeof v); }
__attribute__((always_inline)) inline vec splat(double x) { return vec{} + x; }

// F rounded up to whole vectors.
int padded(int F) { return (F + L - 1) / L * L; }

// Row `row` (F values from 0) as its values with each hole at 0 into x, and into hole 1 for a
// hole, 0 for a value; a vector at a time, without a branch on the values.
__attribute__((always_inline)) inline void split_row(const double *row, int F, double *x, double *hole) {
  int j = 0;
  for (; j + L <= F; j += L) {
    const vec v = load(row + j);
    const auto seen = v == v;
    store(x + j, seen ? v : splat(0.0));
    store(hole + j, seen ? splat(0.0) : splat(1.0));
  }
  for (; j < F; j++) {
    const bool seen = row[j] == row[j];
    x[j] = seen ? row[j] : 0.0;
    hole[j] = seen ? 0.0 : 1.0;
  }
}


// The terms -0.5 (distance + log determinant) of one class for the B rows of a block laid out
// feature by feature (x, its mask ok, each row's observed count), into out[0..B-1]. Scalar:
// one variance (inverse_k, log_variance_k); else per feature (inv[j], lv[j], j from 1). Table:
// the log determinants with their ln 2 pi terms are given per row (log_dets), else summed here.
// G vectors of rows side by side: their sums are independent, so the adds overlap.
template <bool Scalar, bool Table>
__attribute__((always_inline)) inline void class_terms(const double *x, const double *ok, const double *observed,
                                                       const double *log_dets, const double *mean, const double *inv,
                                                       const double *lv, double inverse_k, double log_variance_k,
                                                       int F, double *out) {
  const double log_two_pi = std::log(EM_TWO_PI);
  for (int b0 = 0; b0 < B; b0 += G * L) {
    vec distance[G], log_det[G];
#pragma GCC unroll 4
    for (int g = 0; g < G; g++) distance[g] = log_det[g] = splat(0.0);
    for (int j = 0; j < F; j++) {
      const double mu = mean[j + 1];
#pragma GCC unroll 4
      for (int g = 0; g < G; g++) {
        const vec mask = load(ok + j * B + b0 + g * L);
        const vec d = load(x + j * B + b0 + g * L) - mu;
        if (Scalar) {
          distance[g] += mask * (d * d);
        } else {
          distance[g] += mask * (d * d * inv[j + 1]);
          if (!Table) log_det[g] += mask * lv[j + 1];
        }
      }
    }
#pragma GCC unroll 4
    for (int g = 0; g < G; g++) {
      const int at = b0 + g * L;
      if (Scalar) distance[g] = inverse_k * distance[g];
      if (Table) {
        store(out + at, -0.5 * (distance[g] + load(log_dets + at)));
      } else {
        const vec n = load(observed + at);
        if (Scalar) log_det[g] = log_variance_k * n;
        store(out + at, -0.5 * (distance[g] + (log_det[g] + log_two_pi * n)));
      }
    }
  }
}

}  // namespace

long diagonal_scratch(int F, int K) { return (2L * F + 2L * K + 6) * B + 2L * padded(F); }

HOLE_LOOPS
void diagonal_posteriors(em_memory *m, int first, int end, const double *log_variance, const double *inverse,
                         const double *pattern_log_det, const int *pattern_of_row, double *log_density,
                         double *scratch) {
  const int K = m->classes, F = m->features;
  const bool scalar = m->kind->kind == SCALAR;
  const double exponent = m->inv_temp;
  // Coordinate j + 1 of row b at [j B + b] (a hole at 0), its mask beside it (1 observed, 0 a
  // hole), class k's terms at [k B + b], then each row's observed count, largest term and sum.
  double *x = scratch, *ok = x + static_cast<long>(F) * B, *terms = ok + static_cast<long>(F) * B;
  double *observed = terms + static_cast<long>(K + 1) * B, *largest = observed + B, *sum = largest + B;
  double *reciprocal = sum + B, *row_x = reciprocal + B, *row_hole = row_x + padded(F);
  double *log_dets = row_hole + padded(F);  // [k B + b], with pattern_log_det
  for (int i = first; i < end; i += B) {
    const int count = end - i < B ? end - i : B;
    // Each row split as the M-step's are, then laid out feature by feature (the rows past
    // count as 0, fully masked).
    for (int b = 0; b < count; b++) {
      split_row(m->data[i + b] + 1, F, row_x, row_hole);
      for (int j = 0; j < F; j++) x[j * B + b] = row_x[j], ok[j * B + b] = 1.0 - row_hole[j];
    }
    for (int b = count; b < B; b++)
      for (int j = 0; j < F; j++) x[j * B + b] = 0.0, ok[j * B + b] = 0.0;
    for (int b = 0; b < B; b += L) {
      vec n = splat(0.0);
      for (int j = 0; j < F; j++) n += load(ok + j * B + b);
      store(observed + b, n);
    }
    if (pattern_log_det) {
      // Each row's observed log determinants with their ln 2 pi terms, looked up by its pattern.
      for (int b = 0; b < B; b++) {
        const double *of_pattern = b < count ? pattern_log_det + static_cast<long>(pattern_of_row[i - 1 + b]) * K : nullptr;
        for (int k = 1; k <= K; k++) log_dets[static_cast<long>(k) * B + b] = of_pattern ? of_pattern[k - 1] : 0.0;
      }
    }
    for (int k = 1; k <= K; k++) {
      const double *mean = m->class_means[k];
      double *out = terms + static_cast<long>(k) * B;
      const double *of_pattern = log_dets + static_cast<long>(k) * B;
      const double *inv = inverse + static_cast<long>(k) * F, *lv = log_variance + static_cast<long>(k) * F;
      if (scalar && pattern_log_det)
        class_terms<true, true>(x, ok, observed, of_pattern, mean, inv, lv, inverse[k], log_variance[k], F, out);
      else if (scalar)
        class_terms<true, false>(x, ok, observed, of_pattern, mean, inv, lv, inverse[k], log_variance[k], F, out);
      else if (pattern_log_det)
        class_terms<false, true>(x, ok, observed, of_pattern, mean, inv, lv, 0.0, 0.0, F, out);
      else
        class_terms<false, false>(x, ok, observed, of_pattern, mean, inv, lv, 0.0, 0.0, F, out);
    }
    for (int b = 0; b < B; b += L) {
      vec big = load(terms + B + b);
      for (int k = 2; k <= K; k++) {
        const vec t = load(terms + static_cast<long>(k) * B + b);
        big = t > big ? t : big;
      }
      store(largest + b, big);
    }
    for (int k = 1; k <= K; k++) {
      double *t = terms + static_cast<long>(k) * B;
      const double lp = m->log_p_j[k];
      for (int b = 0; b < B; b += L) store(t + b, exponent * ((load(t + b) - load(largest + b)) + lp));
      for (int b = 0; b < count; b++) t[b] = std::exp(t[b]);
    }
    for (int b = 0; b < B; b += L) {
      vec s = splat(0.0);
      for (int k = 1; k <= K; k++) s += load(terms + static_cast<long>(k) * B + b);
      store(sum + b, s);
      store(reciprocal + b, 1.0 / s);
    }
    for (int k = 1; k <= K; k++) {
      const double *t = terms + static_cast<long>(k) * B;
      double *posterior = m->P_j_x[k] + i;
      int b = 0;
      for (; b + L <= count; b += L) store(posterior + b, load(t + b) * load(reciprocal + b));
      for (; b < count; b++) posterior[b] = t[b] * reciprocal[b];
    }
    if (log_density)
      for (int b = 0; b < count; b++)
        log_density[i - 1 + b] = largest[b] + (exponent == 1.0 ? std::log(sum[b]) : std::log(sum[b]) / exponent);
  }
}

HOLE_LOOPS
void diagonal_sums(em_memory *m, int from, int to, bool squares, double *weights, double *const *values_in,
                   double *const *squares_in, double *const *holes_in) {
  const int F = m->features, N = m->datapoints, W = padded(F);
  const int classes = to - from;
  if (classes < 1) return;
  // The three sums of each class padded to whole vectors (the pads stay 0), held here while
  // the rows pass.
  const std::size_t per_class = static_cast<std::size_t>(W);
  std::vector<double> values(static_cast<std::size_t>(classes) * per_class, 0.0), squared(values.size(), 0.0),
      holes(values.size(), 0.0);
  for (int c = 0; c < classes; c++)
    for (int j = 0; j < F; j++) {
      const std::size_t at = c * per_class + j;
      values[at] = values_in[from + c][j + 1];
      squared[at] = squares_in[from + c][j + 1];
      holes[at] = holes_in[from + c][j + 1];
    }
  // A block's rows, padded, each hole at 0 with its mask (1 a hole, 0 observed) beside them;
  // every class of the part adds the block in while it is in cache.
  std::vector<double> xs(static_cast<std::size_t>(B) * W, 0.0), hole(xs.size(), 0.0);
  for (int i = 1; i <= N; i += B) {
    const int count = N - i + 1 < B ? N - i + 1 : B;
    for (int b = 0; b < count; b++) split_row(m->data[i + b] + 1, F, xs.data() + b * W, hole.data() + b * W);
    for (int c = 0; c < classes; c++) {
      const int k = from + c;
      const double *posterior = m->P_j_x[k] + i;
      for (int b = 0; b < count; b++) weights[k] += posterior[b];
      // A vector of features at a time through the block's rows, its sums held in registers.
      for (int j = 0; j < W; j += L) {
        const std::size_t at = c * per_class + j;
        vec sum = load(values.data() + at), square = load(squared.data() + at), missed = load(holes.data() + at);
        for (int b = 0; b < count; b++) {
          const double w = posterior[b];
          if (w == 0.0) continue;
          const vec x = load(xs.data() + b * W + j);
          const vec wx = w * x;
          sum += wx;
          if (squares) square += x * wx;
          missed += w * load(hole.data() + b * W + j);
        }
        store(values.data() + at, sum);
        store(squared.data() + at, square);
        store(holes.data() + at, missed);
      }
    }
  }
  for (int c = 0; c < classes; c++)
    for (int j = 0; j < F; j++) {
      const std::size_t at = c * per_class + j;
      values_in[from + c][j + 1] = values[at];
      squares_in[from + c][j + 1] = squared[at];
      holes_in[from + c][j + 1] = holes[at];
    }
}

}  // namespace mogem::detail
