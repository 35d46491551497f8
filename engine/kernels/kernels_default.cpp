// The kernels built for the target's baseline instruction set (kernels.h).
#include <cmath>

#include "engine/kernels/kernels.h"

namespace mogem::detail::default_path {

#define KERNEL_PATH_NAME "default"
#include "engine/kernels/kernel_bodies.inc"
#undef KERNEL_PATH_NAME

}  // namespace mogem::detail::default_path
