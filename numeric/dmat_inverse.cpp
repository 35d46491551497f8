#include "numeric/dmat_inverse.h"

#include "nr/nr_factor.h"
#include "nr/one_based.h"
#include "numeric/dvec_ops.h"

namespace mogem::detail {

int invert_alloc_sym_dmat(double **mat, int n, double **inv) {
  if (n == 1) {
    inv[1][1] = 1.0 / mat[1][1];
    return 0;
  }
  one_based_vector<double> col(n), p(n), b(n);
  NR_dcholdc(mat, n, p.get());
  for (int i = 1; i <= n; i++) {
    fast_zero_dvec(b.get(), n);
    b.get()[i] = 1.0;
    NR_dcholsl(mat, n, p.get(), b.get(), col.get());
    for (int j = 1; j <= n; j++) inv[j][i] = col.get()[j];
  }
  return 0;
}

int invert_copy_alloc_sym_dmat(double **mat, int n, double **inv) {
  one_based_matrix mat_copy(n, n);
  copy_dmat(mat, mat_copy.get(), n, n);
  return invert_alloc_sym_dmat(mat_copy.get(), n, inv);
}

double det_alloc_dmat(double **mat, int n) {
  one_based_vector<int> index(n);
  double d;
  NR_dludcmp(mat, n, index.get(), &d);
  for (int j = 1; j <= n; j++) d = d * mat[j][j];
  return d;
}

double det_copy_alloc_dmat(double **mat, int n) {
  one_based_matrix mat_copy(n, n);
  copy_dmat(mat, mat_copy.get(), n, n);
  return det_alloc_dmat(mat_copy.get(), n);
}

}  // namespace mogem::detail
