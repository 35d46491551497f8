// Block builders shared by the container allocators of the numeric library. Internal: include
// only from nr/ sources. Each builder either returns a complete handle or ends the run through
// NR_error with the caller's text, leaving nothing allocated behind.
#ifndef MOGEM_NR_NR_BLOCKS_H
#define MOGEM_NR_NR_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "nr/nr_util.h"

namespace mogem::detail {

namespace nr_blocks {

// Heap block of `count` elements of `size` bytes, or null when the count is negative, the
// byte count overflows, or the heap refuses. The caller turns null into NR_error, so that a
// size that cannot exist is reported exactly like memory that cannot be had.
inline void *checked_block(long long count, std::size_t size) {
  if (count < 0) return nullptr;
  std::size_t bytes;
  if (__builtin_mul_overflow(static_cast<unsigned long long>(count), size, &bytes)) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

// count * factor + extra in 64 bits, or -1 when it overflows or a factor is negative.
inline long long checked_count(long long count, long long factor, long long extra) {
  long long product, total;
  if (count < 0 || factor < 0) return -1;
  if (__builtin_mul_overflow(count, factor, &product)) return -1;
  if (__builtin_add_overflow(product, extra, &total)) return -1;
  return total;
}

template <typename T>
T *vector_block(long nl, long nh, const char *failure_text) {
  long long usable = static_cast<long long>(nh) - nl + 1;
  T *block = static_cast<T *>(checked_block(checked_count(usable, 1, 1), sizeof(T)));
  if (!block) NR_error(failure_text);
  return block - (nl - 1);
}

// Pointer blocks get room for at least one pointer, so that the element block of an empty
// shape (no rows or no columns) still hangs on the handle and the release finds it.
inline long long pointer_room(long long count) { return count > 0 ? count : 1; }

// Block of pointers to T for the rows nrl..nrl+nrow-1, indexed from nrl.
template <typename T>
T **row_pointers(long nrl, long long nrow, const char *failure_text) {
  T **m = static_cast<T **>(checked_block(nrow < 0 ? -1 : pointer_room(nrow) + 1, sizeof(T *)));
  if (!m) NR_error(failure_text);
  return m + 1 - nrl;
}

template <typename T>
T **matrix_block(long nrl, long nrh, long ncl, long nch) {
  long long nrow = static_cast<long long>(nrh) - nrl + 1;
  long long ncol = static_cast<long long>(nch) - ncl + 1;
  T **m = row_pointers<T>(nrl, nrow, "allocation failure 1 in matrix()");
  T *elements = static_cast<T *>(checked_block(checked_count(nrow, ncol, 1), sizeof(T)));
  if (!elements) {
    std::free(m + nrl - 1);  // leave nothing behind for a caller that survives the error
    NR_error("allocation failure 2 in matrix()");
  }
  m[nrl] = elements + 1 - ncl;
  for (long i = nrl + 1; i <= nrh; i++) m[i] = m[i - 1] + ncol;
  return m;
}

// failure_texts[0..2]: the texts for the row, column-pointer and element blocks.
template <typename T>
T ***tensor_block(long nrl, long nrh, long ncl, long nch, long ndl, long ndh, const char *const failure_texts[3]) {
  long long nrow = static_cast<long long>(nrh) - nrl + 1;
  long long ncol = static_cast<long long>(nch) - ncl + 1;
  long long ndep = static_cast<long long>(ndh) - ndl + 1;
  long long slices = checked_count(nrow, ncol, 0);

  T ***t = row_pointers<T *>(nrl, nrow, failure_texts[0]);
  T **columns = static_cast<T **>(checked_block(slices < 0 ? -1 : pointer_room(slices) + 1, sizeof(T *)));
  if (!columns) {
    std::free(t + nrl - 1);
    NR_error(failure_texts[1]);
  }
  t[nrl] = columns + 1 - ncl;
  T *elements = static_cast<T *>(checked_block(checked_count(slices, ndep, 1), sizeof(T)));
  if (!elements) {
    std::free(columns);
    std::free(t + nrl - 1);
    NR_error(failure_texts[2]);
  }
  t[nrl][ncl] = elements + 1 - ndl;
  for (long j = ncl + 1; j <= nch; j++) t[nrl][j] = t[nrl][j - 1] + ndep;
  for (long i = nrl + 1; i <= nrh; i++) {
    t[i] = t[i - 1] + ncol;
    t[i][ncl] = t[i - 1][ncl] + ncol * ndep;
    for (long j = ncl + 1; j <= nch; j++) t[i][j] = t[i][j - 1] + ndep;
  }
  return t;
}

template <typename T>
void free_vector_block(T *v, long nl) {
  std::free(v + nl - 1);
}

template <typename T>
void free_matrix_block(T **m, long nrl, long ncl) {
  std::free(m[nrl] + ncl - 1);
  std::free(m + nrl - 1);
}

template <typename T>
void free_tensor_block(T ***t, long nrl, long ncl, long ndl) {
  std::free(t[nrl][ncl] + ndl - 1);
  std::free(t[nrl] + ncl - 1);
  std::free(t + nrl - 1);
}

}  // namespace nr_blocks

}  // namespace mogem::detail

#endif
