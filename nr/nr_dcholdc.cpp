#include <cmath>

#include "nr/nr_factor.h"
#include "nr/nr_util.h"

namespace mogem::detail {

void NR_dcholdc(double **a, int n, double *p) {
  for (int i = 1; i <= n; i++) {
    for (int j = i; j <= n; j++) {
      double sum = a[i][j];
      for (int k = i - 1; k >= 1; k--) sum -= a[i][k] * a[j][k];
      if (i == j) {
        if (sum <= 0.0) NR_error("NR_dcholdc failed");
        p[i] = std::sqrt(sum);
      } else {
        a[j][i] = sum / p[i];
      }
    }
  }
}

}  // namespace mogem::detail
