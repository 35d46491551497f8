#include "nr/nr_util.h"

#include <cstdio>

#include "nr/nr_blocks.h"

namespace mogem::detail {

using namespace nr_blocks;

void NR_error(const char *error_text) {
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", error_text);
  std::fprintf(stderr, "...now exiting to system...\n");
  throw run_exit{1};
}

double *NR_dvector(long nl, long nh) { return vector_block<double>(nl, nh, "allocation failure in dvector()"); }

void NR_free_dvector(double *v, long nl, long) { free_vector_block(v, nl); }

int *NR_ivector(long nl, long nh) { return vector_block<int>(nl, nh, "allocation failure in ivector()"); }

void NR_free_ivector(int *v, long nl, long) { free_vector_block(v, nl); }

double **NR_dmatrix(long nrl, long nrh, long ncl, long nch) { return matrix_block<double>(nrl, nrh, ncl, nch); }

void NR_free_dmatrix(double **m, long nrl, long, long ncl, long) { free_matrix_block(m, nrl, ncl); }

double ***NR_d3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  static const char *const texts[3] = {"allocation failure 1 in NR_d3tensor()", "allocation failure 2 in NR_d3tensor()",
                                       "allocation failure 3 in NR_d3tensor()"};
  return tensor_block<double>(nrl, nrh, ncl, nch, ndl, ndh, texts);
}

void NR_free_d3tensor(double ***t, long nrl, long, long ncl, long, long ndl, long) {
  free_tensor_block(t, nrl, ncl, ndl);
}

}  // namespace mogem::detail
