#include <cmath>

#include "nr/nr_eigen.h"
#include "nr/one_based.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

const int MAX_SWEEPS = 50;

// One plane rotation of the pair (x, y), both read before either is written.
inline void rotate(double &x, double &y, double s, double tau) {
  const double gx = x, hy = y;
  x = gx - s * (hy + gx * tau);
  y = hy + s * (gx - hy * tau);
}

}  // namespace

void NR_djacobi(double **a, int n, double *d, double **v, int *nrot) {
  one_based_vector<double> sweep_start(n), sweep_change(n);
  double *b = sweep_start.get();  // the diagonal as of the start of the sweep
  double *z = sweep_change.get(); // the diagonal changes accumulated during the sweep
  for (int ip = 1; ip <= n; ip++) {
    for (int iq = 1; iq <= n; iq++) v[ip][iq] = 0.0;
    v[ip][ip] = 1.0;
  }
  for (int ip = 1; ip <= n; ip++) {
    b[ip] = d[ip] = a[ip][ip];
    z[ip] = 0.0;
  }
  *nrot = 0;
  for (int i = 1; i <= MAX_SWEEPS; i++) {
    double sm = 0.0;
    for (int ip = 1; ip <= n - 1; ip++)
      for (int iq = ip + 1; iq <= n; iq++) sm += std::fabs(a[ip][iq]);
    if (sm == 0.0) return;
    const double tresh = i < 4 ? 0.2 * sm / (n * n) : 0.0;
    for (int ip = 1; ip <= n - 1; ip++) {
      for (int iq = ip + 1; iq <= n; iq++) {
        const double g = 100.0 * std::fabs(a[ip][iq]);
        if (i > 4 && std::fabs(d[ip]) + g == std::fabs(d[ip]) && std::fabs(d[iq]) + g == std::fabs(d[iq])) {
          a[ip][iq] = 0.0;
        } else if (std::fabs(a[ip][iq]) > tresh) {
          double h = d[iq] - d[ip];
          double t;
          if (std::fabs(h) + g == std::fabs(h)) {
            t = a[ip][iq] / h;
          } else {
            const double theta = 0.5 * h / a[ip][iq];
            t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
            if (theta < 0.0) t = -t;
          }
          const double c = 1.0 / std::sqrt(t * t + 1.0);
          const double s = t * c;
          const double tau = s / (1.0 + c);
          h = t * a[ip][iq];
          z[ip] -= h;
          z[iq] += h;
          d[ip] -= h;
          d[iq] += h;
          a[ip][iq] = 0.0;
          for (int j = 1; j <= ip - 1; j++) rotate(a[j][ip], a[j][iq], s, tau);
          for (int j = ip + 1; j <= iq - 1; j++) rotate(a[ip][j], a[j][iq], s, tau);
          for (int j = iq + 1; j <= n; j++) rotate(a[ip][j], a[iq][j], s, tau);
          for (int j = 1; j <= n; j++) rotate(v[j][ip], v[j][iq], s, tau);
          ++*nrot;
        }
      }
    }
    for (int ip = 1; ip <= n; ip++) {
      b[ip] += z[ip];
      d[ip] = b[ip];
      z[ip] = 0.0;
    }
  }
  NR_error("Too many iterations in routine NR_djacobi");
}

}  // namespace mogem::detail
