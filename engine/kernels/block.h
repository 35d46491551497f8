// Blocks of data points for the E-step and the M-step: the points' coordinates laid out
// feature by feature, so that the loops run across the points of a block while each point's
// own sum still adds its terms in ascending feature order. The block size the kernels
// (kernels.h) work with.
#ifndef MOGEM_ENGINE_KERNELS_BLOCK_H
#define MOGEM_ENGINE_KERNELS_BLOCK_H

namespace mogem::detail {

// Points in a block.
constexpr int EM_BLOCK = 64;

}  // namespace mogem::detail

#endif
