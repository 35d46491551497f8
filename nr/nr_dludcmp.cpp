#include <cmath>

#include "nr/nr_factor.h"
#include "nr/one_based.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {
const double TINY_PIVOT = 1.0e-20;
}

void NR_dludcmp(double **a, int n, int *indx, double *d) {
  one_based_vector<double> scale_holder(n);
  double *vv = scale_holder.get();  // 1 / largest magnitude of each row: the implicit scaling
  *d = 1.0;
  for (int i = 1; i <= n; i++) {
    double big = 0.0;
    for (int j = 1; j <= n; j++) {
      double temp = std::fabs(a[i][j]);
      if (temp > big) big = temp;
    }
    if (big == 0.0) NR_error("Singular matrix in routine NR_dludcmp");
    vv[i] = 1.0 / big;
  }
  for (int j = 1; j <= n; j++) {
    for (int i = 1; i < j; i++) {
      double sum = a[i][j];
      for (int k = 1; k < i; k++) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i <= n; i++) {
      double sum = a[i][j];
      for (int k = 1; k < j; k++) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      double dum = vv[i] * std::fabs(sum);
      if (dum >= big) {
        big = dum;
        imax = i;
      }
    }
    if (imax != j) {
      for (int k = 1; k <= n; k++) {
        double dum = a[imax][k];
        a[imax][k] = a[j][k];
        a[j][k] = dum;
      }
      *d = -(*d);
      vv[imax] = vv[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0.0) a[j][j] = TINY_PIVOT;
    if (j != n) {
      double dum = 1.0 / a[j][j];
      for (int i = j + 1; i <= n; i++) a[i][j] *= dum;
    }
  }
}

}  // namespace mogem::detail
