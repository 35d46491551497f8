// The kernels built for AVX2 (kernels.h); compiled only where the build enables that path.
//
// The target options cover the kernel source alone: every header comes first, so none of
// their inline functions (nor a template of the standard library) is compiled for AVX2 and
// then picked by the linker for callers on CPUs without it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/kernels/kernels.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace mogem::detail::avx2_path {

#define KERNEL_PATH_NAME "avx2"
#define KERNEL_LANES 4
#define KERNEL_REGISTERS 16
#include "engine/kernels/kernel_bodies.inc"
#undef KERNEL_PATH_NAME
#undef KERNEL_LANES
#undef KERNEL_REGISTERS

}  // namespace mogem::detail::avx2_path

#pragma GCC pop_options
