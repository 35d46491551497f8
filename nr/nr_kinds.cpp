#include "nr/nr_kinds.h"

#include "nr/nr_blocks.h"

namespace mogem::detail {

using namespace nr_blocks;

float *NR_vector(long nl, long nh) { return vector_block<float>(nl, nh, "allocation failure in vector()"); }

void NR_free_vector(float *v, long nl, long) { free_vector_block(v, nl); }

unsigned char *NR_cvector(long nl, long nh) {
  return vector_block<unsigned char>(nl, nh, "allocation failure in cvector()");
}

void NR_free_cvector(unsigned char *v, long nl, long) { free_vector_block(v, nl); }

uint32_t *NR_lvector(long nl, long nh) { return vector_block<uint32_t>(nl, nh, "allocation failure in lvector()"); }

void NR_free_lvector(uint32_t *v, long nl, long) { free_vector_block(v, nl); }

float **NR_matrix(long nrl, long nrh, long ncl, long nch) { return matrix_block<float>(nrl, nrh, ncl, nch); }

void NR_free_matrix(float **m, long nrl, long, long ncl, long) { free_matrix_block(m, nrl, ncl); }

int **NR_imatrix(long nrl, long nrh, long ncl, long nch) { return matrix_block<int>(nrl, nrh, ncl, nch); }

void NR_free_imatrix(int **m, long nrl, long, long ncl, long) { free_matrix_block(m, nrl, ncl); }

unsigned char **NR_cmatrix(long nrl, long nrh, long ncl, long nch) {
  return matrix_block<unsigned char>(nrl, nrh, ncl, nch);
}

void NR_free_cmatrix(unsigned char **m, long nrl, long, long ncl, long) { free_matrix_block(m, nrl, ncl); }

float ***NR_f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  static const char *const texts[3] = {"allocation failure 1 in NR_f3tensor()", "allocation failure 2 in NR_f3tensor()",
                                       "allocation failure 3 in NR_f3tensor()"};
  return tensor_block<float>(nrl, nrh, ncl, nch, ndl, ndh, texts);
}

void NR_free_f3tensor(float ***t, long nrl, long, long ncl, long, long ndl, long) {
  free_tensor_block(t, nrl, ncl, ndl);
}

namespace {

template <typename T>
T **submatrix_view(T **a, long oldrl, long oldrh, long oldcl, long newrl, long newcl) {
  long long nrow = static_cast<long long>(oldrh) - oldrl + 1;
  T **m = row_pointers<T>(newrl, nrow, "allocation failure in submatrix()");
  for (long i = oldrl, j = newrl; i <= oldrh; i++, j++) m[j] = a[i] + (oldcl - newcl);
  return m;
}

}  // namespace

float **NR_submatrix(float **a, long oldrl, long oldrh, long oldcl, long, long newrl, long newcl) {
  return submatrix_view(a, oldrl, oldrh, oldcl, newrl, newcl);
}

unsigned char **NR_csubmatrix(unsigned char **a, long oldrl, long oldrh, long oldcl, long, long newrl, long newcl) {
  return submatrix_view(a, oldrl, oldrh, oldcl, newrl, newcl);
}

float **NR_convert_matrix(float *a, long nrl, long nrh, long ncl, long nch) {
  long long nrow = static_cast<long long>(nrh) - nrl + 1;
  long ncol = nch - ncl + 1;
  float **m = row_pointers<float>(nrl, nrow, "allocation failure in NR_convert_matrix()");
  if (nrow <= 0) return m;
  m[nrl] = a - ncl;
  for (long r = 1; r < nrow; r++) m[nrl + r] = m[nrl + r - 1] + ncol;
  return m;
}

void NR_free_submatrix(void *b, long nrl, long, long, long) { std::free(static_cast<char **>(b) + nrl - 1); }

void NR_free_convert_matrix(float **b, long nrl, long, long, long) { std::free(b + nrl - 1); }

}  // namespace mogem::detail
