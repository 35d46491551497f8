// The masked row loops of the scalar and diagonal kinds with holes (holes_rows.h).
#include "engine/holes_rows.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_estep.h"
#include "engine/hole_blocks.h"
#include "engine/holes.h"

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

constexpr int B = HOLE_ROWS;
constexpr int L = 8;  // doubles of a vector
typedef double vec __attribute__((vector_size(L * sizeof(double))));
constexpr int G = 4;  // vectors of rows whose E-step sums run side by side

__attribute__((always_inline)) inline vec load(const double *p) {
  vec v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline void store(double *p, const vec &v) { std::memcpy(p, &v, sizeof v); }
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
                                                       const double *lv, double inverse_k, double log_variance_k, int F,
                                                       double *out) {
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
        const double *of_pattern =
            b < count ? pattern_log_det + static_cast<long>(pattern_of_row[i - 1 + b]) * K : nullptr;
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

namespace {

// The rows of a block for the full kinds: each padded (holes at 0), and its holes' features
// (0-based, ascending), so that each class of a part fills in its expectations without a
// look at the patterns.
struct full_block {
  int W, F;
  std::vector<double> xs;  // B x W
  std::vector<int> holes;  // B x F: the first count[b] are row b's holes
  std::vector<int> count;
  full_block(int features)
      : W(padded(features)),
        F(features),
        xs(static_cast<std::size_t>(B) * W, 0.0),
        holes(static_cast<std::size_t>(B) * features),
        count(B) {}
  void take(const em_memory *m, int i, int rows) {
    for (int b = 0; b < rows; b++) {
      const double *row = m->data[i + b] + 1;
      double *x = xs.data() + b * W;
      int *at = holes.data() + b * F;
      int n = 0;
      for (int j = 0; j < F; j++) {
        const bool seen = row[j] == row[j];
        x[j] = seen ? row[j] : 0.0;
        if (!seen) at[n++] = j;
      }
      count[b] = n;
    }
  }
  // Row b (row i of the data) under class k: its values, each hole its conditional mean.
  __attribute__((always_inline)) inline void expected(const hole_state &h, int K, int i, int b, int k,
                                                      double *out) const {
    const double *x = xs.data() + b * W;
    for (int j = 0; j < W; j += L) store(out + j, load(x + j));
    const int q = count[b];
    const double *conditional =
        h.conditional_means.data() + h.first_missing[i - 1] * K + static_cast<std::size_t>(k - 1) * q;
    for (int a = 0; a < q; a++) out[holes[b * F + a]] = conditional[a];
  }
};

}  // namespace

HOLE_LOOPS
void full_means(em_memory *m, int from, int to, double *weights, double *const *sums) {
  const int F = m->features, N = m->datapoints, K = m->classes;
  const hole_state &h = *m->holes;
  full_block block(F);
  const int W = block.W;
  std::vector<double> acc(static_cast<std::size_t>(to - from) * W, 0.0), x(W, 0.0);
  for (int c = 0; c < to - from; c++)
    for (int j = 0; j < F; j++) acc[static_cast<std::size_t>(c) * W + j] = sums[from + c][j + 1];
  for (int i = 1; i <= N; i += B) {
    const int count = N - i + 1 < B ? N - i + 1 : B;
    block.take(m, i, count);
    for (int k = from; k < to; k++) {
      const double *posterior = m->P_j_x[k] + i;
      double *a = acc.data() + static_cast<std::size_t>(k - from) * W;
      for (int b = 0; b < count; b++) {
        const double w = posterior[b];
        weights[k] += w;
        if (w == 0.0) continue;
        block.expected(h, K, i + b, b, k, x.data());
        for (int j = 0; j < W; j += L) store(a + j, load(a + j) + w * load(x.data() + j));
      }
    }
  }
  for (int c = 0; c < to - from; c++)
    for (int j = 0; j < F; j++) sums[from + c][j + 1] = acc[static_cast<std::size_t>(c) * W + j];
}

int full_width(int F) { return padded(F); }

HOLE_LOOPS
void full_scatters(em_memory *m, int from, int to, double *scatter, double *conditional) {
  const int F = m->features, N = m->datapoints, K = m->classes;
  const hole_state &h = *m->holes;
  full_block block(F);
  const int W = block.W;
  std::vector<double> x(W, 0.0), mean(W, 0.0), d(static_cast<std::size_t>(B) * W, 0.0), wd(d.size(), 0.0);
  std::vector<int> kept(B);
  for (int i = 1; i <= N; i += B) {
    const int count = N - i + 1 < B ? N - i + 1 : B;
    block.take(m, i, count);
    for (int k = from; k < to; k++) {
      if (m->P_j[k] * static_cast<double>(m->share.total) == 0.0) continue;
      const double *posterior = m->P_j_x[k] + i;
      for (int j = 0; j < F; j++) mean[j] = m->class_means[k][j + 1];
      // The block's rows of weight above 0 (c of them): d = mean - x^ and w d, row by row.
      int c = 0;
      for (int b = 0; b < count; b++) {
        const double w = posterior[b];
        if (w == 0.0) continue;
        block.expected(h, K, i + b, b, k, x.data());
        double *dc = d.data() + static_cast<std::size_t>(c) * W, *wc = wd.data() + static_cast<std::size_t>(c) * W;
        for (int j = 0; j < W; j += L) {
          const vec v = load(mean.data() + j) - load(x.data() + j);
          store(dc + j, v);
          store(wc + j, w * v);
        }
        kept[c++] = b;
      }
      // Each vector of a row of the sums through the rows, held in a register meanwhile.
      // Four rows of the sums at a time, so that their chains of adds overlap; a row r takes
      // the vectors of columns from the one holding r.
      double *S = scatter + static_cast<std::size_t>(k - 1) * F * W;
      for (int s0 = 0; s0 < W; s0 += L) {
        const int rows_here = F < s0 + L ? F : s0 + L;
        int r = 0;
        for (; r + 4 <= rows_here; r += 4) {
          vec sum[4];
          for (int g = 0; g < 4; g++) sum[g] = load(S + static_cast<std::size_t>(r + g) * W + s0);
          for (int e = 0; e < c; e++) {
            const vec column = load(d.data() + static_cast<std::size_t>(e) * W + s0);
            const double *w_e = wd.data() + static_cast<std::size_t>(e) * W + r;
            for (int g = 0; g < 4; g++) sum[g] += w_e[g] * column;
          }
          for (int g = 0; g < 4; g++) store(S + static_cast<std::size_t>(r + g) * W + s0, sum[g]);
        }
        for (; r < rows_here; r++) {
          vec sum = load(S + static_cast<std::size_t>(r) * W + s0);
          for (int e = 0; e < c; e++)
            sum += wd[static_cast<std::size_t>(e) * W + r] * load(d.data() + static_cast<std::size_t>(e) * W + s0);
          store(S + static_cast<std::size_t>(r) * W + s0, sum);
        }
      }
      // The conditional covariances of the holes, in sums of their own.
      double *Cs = conditional + static_cast<std::size_t>(k - 1) * F * W;
      for (int e = 0; e < c; e++) {
        const int b = kept[e], q = block.count[b];
        if (q == 0) continue;
        const double w = posterior[b];
        const int p = h.found.pattern_of_row[i + b - 1];
        const double *C =
            h.conditional_covariances.data() + h.first_block[p] * K + static_cast<std::size_t>(k - 1) * q * q;
        const int *at = block.holes.data() + b * F;
        for (int a = 0; a < q; a++)
          for (int a2 = a; a2 < q; a2++) Cs[static_cast<std::size_t>(at[a]) * W + at[a2]] += w * C[a * q + a2];
      }
    }
  }
}

namespace {

// The forward substitution of observed_distance (hole_blocks.h) for Gn vectors of rows from b,
// each row's differences d[t B + b] (t = 0..n-1) replaced by L^-1 d, its squared length into
// distance[b]: z_t = (d_t - L(t, 0) z_0 - L(t, 1) z_1 - ...) / L(t, t), the terms taken off in
// ascending order as there, and the z_t^2 added in ascending t. Each row's sums stay in
// registers; the Gn vectors' chains overlap.
template <int Gn>
__attribute__((always_inline)) inline void solve_rows(double *d, double *distance, const double *lower,
                                                      const double *inverse, int n, int b) {
  vec length[Gn];
  for (int g = 0; g < Gn; g++) length[g] = splat(0.0);
  for (int t = 0; t < n; t++) {
    vec rest[Gn];
    for (int g = 0; g < Gn; g++) rest[g] = load(d + t * B + b + g * L);
    for (int u = 0; u < t; u++) {
      const double l = lower[static_cast<std::size_t>(u) * n + t];
      for (int g = 0; g < Gn; g++) rest[g] -= l * load(d + u * B + b + g * L);
    }
    for (int g = 0; g < Gn; g++) {
      const vec z = rest[g] * inverse[t];
      store(d + t * B + b + g * L, z);
      length[g] += z * z;
    }
  }
  for (int g = 0; g < Gn; g++) store(distance + b + g * L, length[g]);
}

}  // namespace

long pattern_scratch(int F) { return (2L * F + 1) * B + static_cast<long>(F) * B + 2L * F * F; }

void gather_observed(const em_memory *m, const hole_pattern &pattern, const int *rows, int count, double *values) {
  const int n = static_cast<int>(pattern.observed.size());
  const int *o = pattern.observed.data();
  const int span = (count + L - 1) / L * L;
  for (int b = 0; b < count; b++) {
    const double *row = m->data[rows[b]];
    for (int t = 0; t < n; t++) values[t * B + b] = row[o[t]];
  }
  for (int t = 0; t < n; t++)
    for (int b = count; b < span; b++) values[t * B + b] = 0.0;
}

HOLE_LOOPS
void pattern_distances(em_memory *m, const hole_pattern &pattern, const pattern_factor &factor, int k,
                       const double *values, const int *rows, int count, double *distance, double *scratch) {
  const int n = static_cast<int>(pattern.observed.size()), q = static_cast<int>(pattern.missing.size());
  const int K = m->classes;
  const int *o = pattern.observed.data(), *missing = pattern.missing.data();
  const double *mean = m->class_means[k];
  const double *lower = factor.lower.data(), *inverse = factor.inverse_diagonal.data();
  const double *regression = factor.regression.data();
  // The rows' differences from the mean on the observed features, t by t ([t B + b]), kept in
  // difference while d is solved in place. Only whole vectors that hold rows are worked: a
  // pattern of few rows costs little.
  double *d = scratch, *difference = d + static_cast<long>((n > q ? n : q)) * B,
         *expected = difference + static_cast<long>((n > q ? n : q)) * B;
  const int span = (count + L - 1) / L * L;
  for (int t = 0; t < n; t++) {
    const double mu = mean[o[t]];
    for (int b = 0; b < span; b += L) {
      const vec v = load(values + t * B + b) - mu;
      store(d + t * B + b, v);
      store(difference + t * B + b, v);
    }
  }
  // Forward substitution with the pattern's factor, up to four vectors of rows at a time.
  int b = 0;
  for (; b + 4 * L <= span; b += 4 * L) solve_rows<4>(d, distance, lower, inverse, n, b);
  switch ((span - b) / L) {
    case 3: solve_rows<3>(d, distance, lower, inverse, n, b); break;
    case 2: solve_rows<2>(d, distance, lower, inverse, n, b); break;
    case 1: solve_rows<1>(d, distance, lower, inverse, n, b); break;
    default: break;
  }
  if (q == 0) return;
  // The conditional means, as conditional_mean takes them: each hole's sum over t in order.
  for (int a = 0; a < q; a++) {
    const double *r = regression + static_cast<std::size_t>(a) * n;
    for (int b = 0; b < span; b += L) {
      vec sum = splat(0.0);
      for (int t = 0; t < n; t++) sum += r[t] * load(difference + t * B + b);
      store(expected + a * B + b, mean[missing[a]] + sum);
    }
  }
  const hole_state &h = *m->holes;
  for (int b = 0; b < count; b++) {
    double *out =
        m->holes->conditional_means.data() + h.first_missing[rows[b] - 1] * K + static_cast<std::size_t>(k - 1) * q;
    for (int a = 0; a < q; a++) out[a] = expected[a * B + b];
  }
}

namespace {

__attribute__((always_inline)) inline void put(double *p, double x) { *p = x; }
__attribute__((always_inline)) inline void put(double *p, const vec &v) { store(p, v); }
template <typename T> __attribute__((always_inline)) inline T take(const double *p);
template <> __attribute__((always_inline)) inline double take<double>(const double *p) { return *p; }
template <> __attribute__((always_inline)) inline vec take<vec>(const double *p) { return load(p); }

// precision_distances' arithmetic for the rows of values[.. + b] (b, b + 1, ... in the lanes of
// T: a vector of L rows, or one row as a double): the very same operations lane by lane, so a
// row gets the same bits either way. Poo: P_oo's lower triangle (row t at [t n]); Pmo: P_mo (row
// a at [a n]); d, y: n and q times W doubles (W the lanes of T); expected: q x W, filled.
template <typename T, int W>
__attribute__((always_inline)) inline void precision_rows(const double *values, int b, const double *mean, const int *o,
                                                          const int *missing, int n, int q, const double *Poo,
                                                          const double *Pmo, const double *M, const double *inverse,
                                                          double *d, double *y, double *expected, double *distance) {
  // d^T P_oo d, row t of P_oo at a time: d_t (P_tt d_t + 2 sum over u < t of P_tu d_u).
  T quadratic = T{} + 0.0;
  for (int t = 0; t < n; t++) {
    const T dt = take<T>(values + t * B + b) - mean[o[t]];
    put(d + t * W, dt);
    T off = T{} + 0.0;
    for (int u = 0; u < t; u++) off += Poo[t * n + u] * take<T>(d + u * W);
    quadratic += dt * (Poo[t * n + t] * dt + 2.0 * off);
  }
  // v = P_mo d, then y = M^-1 v (forward), whose squared length is v^T P_mm^-1 v.
  T correction = T{} + 0.0;
  for (int a = 0; a < q; a++) {
    T v = T{} + 0.0;
    for (int t = 0; t < n; t++) v += Pmo[a * n + t] * take<T>(d + t * W);
    for (int c = 0; c < a; c++) v -= M[a * q + c] * take<T>(y + c * W);
    const T ya = v * inverse[a];
    put(y + a * W, ya);
    correction += ya * ya;
  }
  put(distance + b, quadratic - correction);
  // x = M^-T y = P_mm^-1 P_mo d (backward, in place of y); the conditional means mu_m - x.
  for (int a = q - 1; a >= 0; a--) {
    T x = take<T>(y + a * W);
    for (int c = a + 1; c < q; c++) x -= M[c * q + a] * take<T>(y + c * W);
    x *= inverse[a];
    put(y + a * W, x);
    put(expected + a * W, mean[missing[a]] - x);
  }
}

}  // namespace

HOLE_LOOPS
void precision_distances(em_memory *m, const hole_pattern &pattern, const precision_factor &precision,
                         const missing_factor &block, int k, const double *values, const int *rows, int count,
                         double *distance, double *scratch) {
  const int n = static_cast<int>(pattern.observed.size()), q = static_cast<int>(pattern.missing.size());
  const int F = m->features, K = m->classes;
  const int *o = pattern.observed.data(), *missing = pattern.missing.data();
  const double *mean = m->class_means[k];
  const double *P = precision.precision.data(), *M = block.lower.data(), *inverse = block.inverse_diagonal.data();
  // P_oo (lower triangle) and P_mo of the pattern, gathered once for all its rows.
  double *Poo = scratch, *Pmo = Poo + static_cast<long>(F) * F, *d = Pmo + static_cast<long>(F) * F;
  double *y = d + static_cast<long>(F) * L, *expected = y + static_cast<long>(F) * L;
  for (int t = 0; t < n; t++) {
    const double *row = P + static_cast<std::size_t>(o[t] - 1) * F - 1;
    for (int u = 0; u <= t; u++) Poo[t * n + u] = row[o[u]];
  }
  for (int a = 0; a < q; a++) {
    const double *row = P + static_cast<std::size_t>(missing[a] - 1) * F - 1;
    for (int t = 0; t < n; t++) Pmo[a * n + t] = row[o[t]];
  }
  double *const means = m->holes->conditional_means.data();
  const std::size_t *first_missing = m->holes->first_missing.data();
  const std::size_t class_offset = static_cast<std::size_t>(k - 1) * q;
  // Whole vectors of rows, then the rest one row at a time (a pattern of one row is the common
  // case with many holes: a vector would spend most of its lanes on nothing).
  int b = 0;
  for (; b + L <= count; b += L) {
    precision_rows<vec, L>(values, b, mean, o, missing, n, q, Poo, Pmo, M, inverse, d, y, expected, distance);
    for (int r = 0; r < L; r++) {
      double *out = means + first_missing[rows[b + r] - 1] * K + class_offset;
      for (int a = 0; a < q; a++) out[a] = expected[a * L + r];
    }
  }
  for (; b < count; b++) {
    precision_rows<double, 1>(values, b, mean, o, missing, n, q, Poo, Pmo, M, inverse, d, y, expected, distance);
    double *out = means + first_missing[rows[b] - 1] * K + class_offset;
    for (int a = 0; a < q; a++) out[a] = expected[a];
  }
}

int class_lanes() { return L; }

HOLE_LOOPS
void precision_distances_by_class(em_memory *m, const hole_pattern &pattern, const double *precisions,
                                  const double *blocks, const double *means, const double *values, const int *rows,
                                  int count, double *terms, double *scratch) {
  const int n = static_cast<int>(pattern.observed.size()), q = static_cast<int>(pattern.missing.size());
  const int F = m->features, K = m->classes, groups = (K + L - 1) / L;
  const int *o = pattern.observed.data(), *missing = pattern.missing.data();
  double *d = scratch, *y = d + static_cast<long>(F) * L;
  double *const conditional_means = m->holes->conditional_means.data();
  const std::size_t *first_missing = m->holes->first_missing.data();
  for (int g = 0; g < groups; g++) {
    const double *P = precisions + static_cast<std::size_t>(g) * F * F * L;
    const double *M = blocks + static_cast<std::size_t>(g) * (q * q + q) * L, *inverse = M + q * q * L;
    const double *mean = means + static_cast<std::size_t>(g) * F * L;
    auto p = [&](int r, int c) { return load(P + (static_cast<std::size_t>(r - 1) * F + (c - 1)) * L); };
    for (int b = 0; b < count; b++) {
      // precision_rows' operations, lane by lane, for the classes of group g.
      vec quadratic = splat(0.0);
      for (int t = 0; t < n; t++) {
        const vec dt = values[t * B + b] - load(mean + (o[t] - 1) * L);
        store(d + t * L, dt);
        vec off = splat(0.0);
        for (int u = 0; u < t; u++) off += p(o[t], o[u]) * load(d + u * L);
        quadratic += dt * (p(o[t], o[t]) * dt + 2.0 * off);
      }
      vec correction = splat(0.0);
      for (int a = 0; a < q; a++) {
        vec v = splat(0.0);
        for (int t = 0; t < n; t++) v += p(missing[a], o[t]) * load(d + t * L);
        for (int c = 0; c < a; c++) v -= load(M + (a * q + c) * L) * load(y + c * L);
        const vec ya = v * load(inverse + a * L);
        store(y + a * L, ya);
        correction += ya * ya;
      }
      const vec distance = quadratic - correction;
      for (int a = q - 1; a >= 0; a--) {
        vec x = load(y + a * L);
        for (int c = a + 1; c < q; c++) x -= load(M + (c * q + a) * L) * load(y + c * L);
        x *= load(inverse + a * L);
        store(y + a * L, x);
      }
      double *out = conditional_means + first_missing[rows[b] - 1] * K;
      for (int lane = 0; lane < L && g * L + lane < K; lane++) {
        const int k = g * L + lane + 1;
        terms[static_cast<std::size_t>(k) * B + b] = distance[lane];
        for (int a = 0; a < q; a++)
          out[static_cast<std::size_t>(k - 1) * q + a] = mean[(missing[a] - 1) * L + lane] - y[a * L + lane];
      }
    }
  }
}

HOLE_LOOPS
void scalar_sums(em_memory *m, int from, int to, double *const *hole_terms, double *sums) {
  const int F = m->features, N = m->datapoints;
  // The block's rows feature by feature ([j B + b]), each hole at 0, with the masks of the
  // observed values and of the holes.
  std::vector<double> x(static_cast<std::size_t>(F) * B, 0.0), seen(x.size(), 0.0), hole(x.size(), 0.0);
  std::vector<double> row_x(padded(F)), row_hole(padded(F)), distance(B);
  for (int i = 1; i <= N; i += B) {
    const int count = N - i + 1 < B ? N - i + 1 : B;
    for (int b = 0; b < count; b++) {
      split_row(m->data[i + b] + 1, F, row_x.data(), row_hole.data());
      for (int j = 0; j < F; j++)
        x[j * B + b] = row_x[j], hole[j * B + b] = row_hole[j], seen[j * B + b] = 1.0 - row_hole[j];
    }
    for (int k = from; k < to; k++) {
      if (m->P_j[k] * static_cast<double>(m->share.total) == 0.0) continue;
      const double *mean = m->class_means[k], *term = hole_terms[k];
      // Each row's sum over its features in ascending order, the rows side by side.
      for (int b = 0; b < B; b += L) {
        vec sum = splat(0.0);
        for (int j = 0; j < F; j++) {
          const vec d = load(x.data() + j * B + b) - mean[j + 1];
          sum += load(seen.data() + j * B + b) * (d * d) + load(hole.data() + j * B + b) * term[j + 1];
        }
        store(distance.data() + b, sum);
      }
      const double *posterior = m->P_j_x[k] + i;
      for (int b = 0; b < count; b++)
        if (posterior[b] != 0.0) sums[k] += posterior[b] * distance[b];
    }
  }
}

}  // namespace mogem::detail
