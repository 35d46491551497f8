#include <cmath>
#include <cstdio>

#include "common/deviates.h"
#include "common/random.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

constexpr int PROPOSALS = 100;

}  // namespace

int partitionD(double a[][2], int p, int r) {
  double x = a[p][0];
  int i = p - 1, j = r + 1;
  for (;;) {
    do j--;
    while (a[j][0] > x);
    do i++;
    while (a[i][0] < x);
    if (i >= j) return j;
    for (int e = 0; e < 2; e++) {
      double held = a[i][e];
      a[i][e] = a[j][e];
      a[j][e] = held;
    }
  }
}

void quickSortD(double a[][2], int min, int max) {
  if (min < max) {
    int q = partitionD(a, min, max);
    quickSortD(a, min, q);
    quickSortD(a, q + 1, max);
  }
}

float gammadev_pll(double a, int32_t *idum, int32_t *iy, int32_t *iv) {
  // Shapes below 1 are refused: resampling needs proposals of shape trunc(a) >= 1.
  if (a < 1) {
    refuse_input("Problem in gammadev_pll:  a = %.4f\n", a);
  }
  int ia = static_cast<int>(a);
  if (a == ia) return gamdev_pll(ia, idum, iy, iv);

  // Sampling-importance-resampling: proposals of shape ia, weighted by the ratio of the shape-a
  // density to the shape-ia density, then one draw from their weighted empirical distribution.
  double pairs[PROPOSALS][2];
  double sum = 0;
  for (int i = 0; i < PROPOSALS; i++) {
    double x = gamdev_pll(ia, idum, iy, iv);
    pairs[i][0] = x;
    double gam_f = std::exp((a - 1) * std::log(x) - std::lgamma(a) - x);
    double gam_g = std::exp((ia - 1) * std::log(x) - std::lgamma(ia) - x);
    pairs[i][1] = gam_f / gam_g;
    sum += pairs[i][1];
  }
  quickSortD(pairs, 0, PROPOSALS - 1);
  pairs[0][1] = pairs[0][1] / sum;
  for (int i = 1; i < PROPOSALS; i++) pairs[i][1] = pairs[i][1] / sum + pairs[i - 1][1];

  double r = ran1_pll(idum, iy, iv);
  for (int i = 0; i < PROPOSALS; i++)
    if (pairs[i][1] >= r) return static_cast<float>(pairs[i][0]);
  return static_cast<float>(pairs[PROPOSALS - 1][0]);
}

}  // namespace mogem::detail
