// Blocks of data points for the E-step and the M-step: the points' coordinates laid out
// feature by feature, so that the loops run across the points of a block while each point's
// own sum still adds its terms in ascending feature order. The block size the kernels
// (kernels.h) work with.
#ifndef MOGEM_ENGINE_KERNELS_BLOCK_H
#define MOGEM_ENGINE_KERNELS_BLOCK_H

#include <new>

#include "nr/nr_util.h"

namespace mogem::detail {

// Points in a block.
constexpr int EM_BLOCK = 64;

// Working storage of the kernels: `count` doubles, not initialised, from a 64-byte boundary, so
// that a vector at a multiple of its own size from the start never straddles two cache lines.
// Owned and released by the holder; memory that cannot be had ends the run through NR_error.
class kernel_buffer {
 public:
  explicit kernel_buffer(long count)
      : values_(static_cast<double *>(::operator new(sizeof(double) * (count > 0 ? count : 1), ALIGNMENT,
                                                     std::nothrow))) {
    if (!values_) NR_error("allocation failure in kernel_buffer()");
  }
  ~kernel_buffer() { ::operator delete(values_, ALIGNMENT); }
  kernel_buffer(const kernel_buffer &) = delete;
  kernel_buffer &operator=(const kernel_buffer &) = delete;
  double *get() const { return values_; }

 private:
  static constexpr std::align_val_t ALIGNMENT{64};
  double *values_;
};

}  // namespace mogem::detail

#endif
