// The kernels built for the target's baseline instruction set (kernels.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/kernels/kernels.h"

namespace mogem::detail::default_path {

#define KERNEL_PATH_NAME "default"
#define KERNEL_LANES 4
// Vectors of four doubles the registers hold: x86-64's baseline has sixteen of two doubles.
#define KERNEL_REGISTERS 8
#include "engine/kernels/kernel_bodies.inc"
#undef KERNEL_PATH_NAME
#undef KERNEL_LANES
#undef KERNEL_REGISTERS

}  // namespace mogem::detail::default_path
