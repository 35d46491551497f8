#include "numeric/dvec_ops.h"

#include <cstring>

namespace mogem::detail {

int subtract_dvec(double *v1, double *v2, double *v3, int n) {
  for (int i = 1; i <= n; i++) v3[i] = v1[i] - v2[i];
  return 0;
}

int left_mult_dmatrix(double **m, int nr, int nc, double *v, double *result) {
  fast_zero_dvec(result, nc);
  // Row by row: on contiguous storage this is one linear sweep from m[1][1].
  for (int i = 1; i <= nr; i++)
    for (int j = 1; j <= nc; j++) result[j] = m[i][j] * v[i] + result[j];
  return 0;
}

double dot_product_dvec(double *x, double *y, int n) {
  double sum = 0.0;
  for (int i = 1; i <= n; i++) sum += x[i] * y[i];
  return sum;
}

int copy_dmat(double **a, double **b, int nr, int nc) {
  if (nr > 0 && nc > 0) std::memcpy(&b[1][1], &a[1][1], sizeof(double) * static_cast<std::size_t>(nr) * nc);
  return 0;
}

int fast_zero_dvec(double *v, int n) {
  if (n > 0) std::memset(&v[1], 0, sizeof(double) * static_cast<std::size_t>(n));
  return 0;
}

}  // namespace mogem::detail
