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

__attribute__((always_inline)) inline vec load(const double *p) {
  vec v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline void store(double *p, vec v) { std::memcpy(p, &v, sizeof v); }
__attribute__((always_inline)) inline vec splat(double x) { return vec{} + x; }

// F rounded up to whole vectors.
int padded(int F) { return (F + L - 1) / L * L; }

}  // namespace

long diagonal_scratch(int F, int K) { return (2L * F + K + 4) * B; }

HOLE_LOOPS
void diagonal_posteriors(em_memory *m, int first, int end, const double *log_variance, const double *inverse,
                         double *log_density, double *scratch) {
  const int K = m->classes, F = m->features;
  const bool scalar = m->kind->kind == SCALAR;
  const double log_two_pi = std::log(EM_TWO_PI), exponent = m->inv_temp;
  // Coordinate j + 1 of row b at [j B + b] (a hole at 0), its mask beside it (1 observed, 0 a
  // hole), class k's terms at [k B + b], then each row's observed count, largest term and sum.
  double *x = scratch, *ok = x + static_cast<long>(F) * B, *terms = ok + static_cast<long>(F) * B;
  double *observed = terms + static_cast<long>(K + 1) * B, *largest = observed + B, *sum = largest + B;
  for (int i = first; i < end; i += B) {
    const int count = end - i < B ? end - i : B;
    for (int b = 0; b < B; b++) {
      const double *row = b < count ? m->data[i + b] : nullptr;
      for (int j = 0; j < F; j++) {
        const double v = row ? row[j + 1] : 0.0;
        const bool seen = v == v;
        x[j * B + b] = seen ? v : 0.0;
        ok[j * B + b] = seen ? 1.0 : 0.0;
      }
    }
    for (int b = 0; b < B; b += L) {
      vec n = splat(0.0);
      for (int j = 0; j < F; j++) n += load(ok + j * B + b);
      store(observed + b, n);
    }
    for (int k = 1; k <= K; k++) {
      const double *mean = m->class_means[k];
      for (int b = 0; b < B; b += L) {
        vec distance = splat(0.0), log_det = splat(0.0);
        const vec n = load(observed + b);
        for (int j = 0; j < F; j++) {
          const vec mask = load(ok + j * B + b);
          const vec d = load(x + j * B + b) - mean[j + 1];
          if (scalar) {
            distance += mask * (d * d);
          } else {
            distance += mask * (d * d * inverse[static_cast<long>(k) * F + j + 1]);
            log_det += mask * log_variance[static_cast<long>(k) * F + j + 1];
          }
        }
        if (scalar) {
          distance = inverse[k] * distance;
          log_det = log_variance[k] * n;
        }
        store(terms + static_cast<long>(k) * B + b, -0.5 * (distance + (log_det + log_two_pi * n)));
      }
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
    }
    for (int k = 1; k <= K; k++) {
      const double *t = terms + static_cast<long>(k) * B;
      double *posterior = m->P_j_x[k] + i;
      for (int b = 0; b < count; b++) posterior[b] = t[b] * (1.0 / sum[b]);
    }
    if (log_density)
      for (int b = 0; b < count; b++)
        log_density[i - 1 + b] = largest[b] + (exponent == 1.0 ? std::log(sum[b]) : std::log(sum[b]) / exponent);
  }
}

HOLE_LOOPS
void diagonal_sums(em_memory *m, int from, int to, double *const *old_means, double *const *second_moment,
                   bool squares, double *weights, double *const *sums, double *const *second) {
  const int F = m->features, N = m->datapoints, W = padded(F);
  const int classes = to - from;
  if (classes < 1) return;
  // Each class's accumulators, old means and second moments padded to whole vectors (the pads
  // stay 0 and are never read back).
  std::vector<double> s1(static_cast<std::size_t>(classes) * W, 0.0), s2(s1.size(), 0.0);
  std::vector<double> mean(s1.size(), 0.0), moment(s1.size(), 0.0);
  for (int c = 0; c < classes; c++)
    for (int j = 0; j < F; j++) {
      const std::size_t at = static_cast<std::size_t>(c) * W + j;
      s1[at] = sums[from + c][j + 1];
      if (squares) s2[at] = second[from + c][j + 1], moment[at] = second_moment[from + c][j + 1];
      mean[at] = old_means[from + c][j + 1];
    }
  // A block's rows, padded, each hole at 0 with its mask (1 a hole, 0 observed) and the
  // observed mask beside them; every class of the part adds the block in while it is in cache.
  std::vector<double> xs(static_cast<std::size_t>(B) * W, 0.0), hole(xs.size(), 0.0), seen(xs.size(), 0.0);
  for (int i = 1; i <= N; i += B) {
    const int count = N - i + 1 < B ? N - i + 1 : B;
    for (int b = 0; b < count; b++) {
      const double *row = m->data[i + b];
      for (int j = 0; j < F; j++) {
        const double v = row[j + 1];
        const bool is_seen = v == v;
        xs[b * W + j] = is_seen ? v : 0.0;
        hole[b * W + j] = is_seen ? 0.0 : 1.0;
        seen[b * W + j] = is_seen ? 1.0 : 0.0;
      }
    }
    for (int c = 0; c < classes; c++) {
      const int k = from + c;
      const double *posterior = m->P_j_x[k] + i;
      double *a1 = s1.data() + static_cast<std::size_t>(c) * W, *a2 = s2.data() + static_cast<std::size_t>(c) * W;
      const double *mu = mean.data() + static_cast<std::size_t>(c) * W;
      const double *m2 = moment.data() + static_cast<std::size_t>(c) * W;
      for (int b = 0; b < count; b++) {
        const double w = posterior[b];
        weights[k] += w;
        if (w == 0.0) continue;
        const double *xb = xs.data() + b * W, *hb = hole.data() + b * W, *ob = seen.data() + b * W;
        for (int j = 0; j < W; j += L) {
          const vec expected = load(xb + j) + load(hb + j) * load(mu + j);
          store(a1 + j, load(a1 + j) + w * expected);
          if (squares)
            store(a2 + j, load(a2 + j) + (load(ob + j) * (expected * (w * expected)) + load(hb + j) * (w * load(m2 + j))));
        }
      }
    }
  }
  for (int c = 0; c < classes; c++)
    for (int j = 0; j < F; j++) {
      const std::size_t at = static_cast<std::size_t>(c) * W + j;
      sums[from + c][j + 1] = s1[at];
      if (squares) second[from + c][j + 1] = s2[at];
    }
}

}  // namespace mogem::detail
