// Blocks of data points for the E-step and the M-step: the points' coordinates laid out
// feature by feature, so that the loops run across the points of a block while each point's
// own sum still adds its terms in ascending feature order. The block size and the vector type
// the kernels (kernels.h) work with.
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

}  // namespace mogem::detail

#endif
