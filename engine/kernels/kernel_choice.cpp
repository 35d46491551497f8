#include "engine/kernels/kernels.h"

namespace mogem::detail {

const kernel_set &default_kernels() { return default_path::kernels; }

const kernel_set *avx2_kernels() {
#ifdef MOGEM_AVX2_KERNELS
  return &avx2_path::kernels;
#else
  return nullptr;
#endif
}

bool cpu_has_avx2() {
#ifdef MOGEM_AVX2_KERNELS
  // The answer also requires the operating system to save the wide registers.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

const kernel_set *avx512_kernels() {
#ifdef MOGEM_AVX512_KERNELS
  return &avx512_path::kernels;
#else
  return nullptr;
#endif
}

bool cpu_has_avx512() {
#ifdef MOGEM_AVX512_KERNELS
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

const kernel_set &best_kernels() {
  const kernel_set *avx512 = avx512_kernels();
  if (avx512 && cpu_has_avx512()) return *avx512;
  const kernel_set *avx2 = avx2_kernels();
  return avx2 && cpu_has_avx2() ? *avx2 : default_kernels();
}

}  // namespace mogem::detail
