// The kernels built for AVX-512F, eight doubles a vector (kernels.h); compiled only where the
// build enables that path. The headers come first for the reason kernels_avx2.cpp gives.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/kernels/kernels.h"

#pragma GCC push_options
#pragma GCC target("avx512f")

namespace mogem::detail::avx512_path {

#define KERNEL_PATH_NAME "avx512"
#define KERNEL_LANES 8
#define KERNEL_REGISTERS 32
#include "engine/kernels/kernel_bodies.inc"
#undef KERNEL_PATH_NAME
#undef KERNEL_LANES
#undef KERNEL_REGISTERS

}  // namespace mogem::detail::avx512_path

#pragma GCC pop_options
