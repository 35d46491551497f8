#include "nr/nr_factor.h"

namespace mogem::detail {

void NR_dcholsl(double **a, int n, double *p, double *b, double *x) {
  for (int i = 1; i <= n; i++) {
    double sum = b[i];
    for (int k = i - 1; k >= 1; k--) sum -= a[i][k] * x[k];
    x[i] = sum / p[i];
  }
  for (int i = n; i >= 1; i--) {
    double sum = x[i];
    for (int k = i + 1; k <= n; k++) sum -= a[k][i] * x[k];
    x[i] = sum / p[i];
  }
}

}  // namespace mogem::detail
