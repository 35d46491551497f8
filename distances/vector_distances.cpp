#include <cmath>

#include "distances/dist_metrics.h"

namespace mogem::detail {

double euclidean_squared(double *v1, double *v2, int n) {
  double sum = 0.0;
  for (int i = 1; i <= n; i++) {
    double d = v2[i] - v1[i];
    sum += d * d;
  }
  return sum;
}

double euclidean(double *v1, double *v2, int n) { return std::sqrt(euclidean_squared(v1, v2, n)); }

double correlation(double *v1, double *v2, int n) {
  double mag_x = 0.0, mag_y = 0.0, dot_xy = 0.0;
  for (int i = 1; i <= n; i++) {
    mag_x += v1[i] * v1[i];
    mag_y += v2[i] * v2[i];
    dot_xy += v1[i] * v2[i];
  }
  // Two roots multiplied, not the root of the product: the last bit depends on it.
  return dot_xy / (std::sqrt(mag_x) * std::sqrt(mag_y));
}

double canberra(double *v1, double *v2, int n) {
  double sum = 0.0;
  for (int i = 1; i <= n; i++) {
    double denom = std::fabs(v1[i]) + std::fabs(v2[i]);
    if (denom != 0.0) sum += std::fabs(v1[i] - v2[i]) / denom;
  }
  return sum;
}

void euclidean2(double *v1, double **m2, int n, int m, double *v3) {
  for (int i = 1; i <= m; i++) v3[i] = euclidean(v1, m2[i], n);
}

void euclidean_squared2(double *v1, double **m2, int n, int m, double *v3) {
  for (int i = 1; i <= m; i++) v3[i] = euclidean_squared(v1, m2[i], n);
}

void euclidean_mean(double *v1, double *v2, double *v3, int n) {
  for (int i = 1; i <= n; i++) v3[i] = (v1[i] + v2[i]) * 0.5;
}

void euclidean_weighted_mean(double a1, double *v1, double a2, double *v2, double *v3, int n) {
  double denom = 1.0 / (a1 + a2);
  for (int i = 1; i <= n; i++) v3[i] = (a1 * v1[i] + a2 * v2[i]) * denom;
}

}  // namespace mogem::detail
