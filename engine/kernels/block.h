// Blocks of data points for the E-step and the M-step: the points' coordinates laid out
// feature by feature, so that the loops run across the points of a block while each point's
// own sum still adds its terms in ascending feature order.
#ifndef MOGEM_ENGINE_KERNELS_BLOCK_H
#define MOGEM_ENGINE_KERNELS_BLOCK_H

#include <cstring>

namespace mogem::detail {

// Points in a block.
constexpr int EM_BLOCK = 64;

// Four doubles handled as one; on targets without such registers the compiler splits them.
// Element-wise arithmetic, so every lane rounds exactly as the scalar operation would.
typedef double em_lanes __attribute__((vector_size(32)));

__attribute__((always_inline)) inline void em_load(em_lanes &v, const double *p) { std::memcpy(&v, p, sizeof v); }

__attribute__((always_inline)) inline void em_store(double *p, const em_lanes &v) { std::memcpy(p, &v, sizeof v); }

// out[b] = sum over j = 0..F-1 of (x[j][b] - mean[j])^2 x scale[j] (scale omitted when null),
// from 0 and j ascending, for the EM_BLOCK points b of a block; x[j][b] is x[j * EM_BLOCK + b].
// Sixteen points at a time keep their sums in registers. Inline, so that it is compiled for
// the instruction set of the routine that calls it.
__attribute__((always_inline)) inline void em_block_squared_distances(const double *x, const double *mean,
                                                                      const double *scale, int F, double *out) {
  for (int b = 0; b < EM_BLOCK; b += 16) {
    em_lanes s0 = {0.0, 0.0, 0.0, 0.0}, s1 = s0, s2 = s0, s3 = s0;
    const double *p = x + b;
    for (int j = 0; j < F; j++, p += EM_BLOCK) {
      const em_lanes mu = {mean[j], mean[j], mean[j], mean[j]};
      em_lanes d0, d1, d2, d3;
      em_load(d0, p), em_load(d1, p + 4), em_load(d2, p + 8), em_load(d3, p + 12);
      d0 -= mu, d1 -= mu, d2 -= mu, d3 -= mu;
      if (scale) {
        const em_lanes w = {scale[j], scale[j], scale[j], scale[j]};
        s0 += d0 * d0 * w, s1 += d1 * d1 * w, s2 += d2 * d2 * w, s3 += d3 * d3 * w;
      } else {
        s0 += d0 * d0, s1 += d1 * d1, s2 += d2 * d2, s3 += d3 * d3;
      }
    }
    em_store(out + b, s0), em_store(out + b + 4, s1), em_store(out + b + 8, s2), em_store(out + b + 12, s3);
  }
}

}  // namespace mogem::detail

#endif
