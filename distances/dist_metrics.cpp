#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "distances/dist_metrics.h"

namespace mogem::detail {

double distance(double *v1, double *v2, int n, int type) {
  switch (type) {
    case EUCLIDEAN: return euclidean(v1, v2, n);
    case EUCLIDEAN_SQUARED: return euclidean_squared(v1, v2, n);
    case CORRELATION: return 1.0 - correlation(v1, v2, n);
    case CANBERRA: return canberra(v1, v2, n);
    default:
      std::fprintf(stderr, "Unknown distance metric: %d\n", type);
      return 0.0;
  }
}

void distance2(double *v1, double **m2, int n, int m, double *v3, int type) {
  switch (type) {
    case EUCLIDEAN: euclidean2(v1, m2, n, m, v3); return;
    case EUCLIDEAN_SQUARED: euclidean_squared2(v1, m2, n, m, v3); return;
    default:
      for (int i = 1; i <= m; i++) v3[i] = distance(v1, m2[i], n, type);
  }
}

namespace {

bool begins_with(const char *s, const char *name) {
  return strncasecmp(s, name, std::strlen(name)) == 0;
}

}  // namespace

int find_metric(const char *s) {
  // Later checks win, so the longer "euclidean_squared" overrides its prefix "euclidean".
  int code = begins_with(s, "euclidean") ? EUCLIDEAN : -1;
  if (begins_with(s, "euclidean_squared")) code = EUCLIDEAN_SQUARED;
  if (begins_with(s, "correlation")) code = CORRELATION;
  if (begins_with(s, "canberra")) code = CANBERRA;
  return code;
}

void test_metrics() {
  static const char *const names[] = {"euclidean", "euclidean_squared", "correlation", "canberra"};
  double f[] = {0.0, 1.0, 1.0, 1.0};
  double g[] = {0.0, 1.0, 2.0, 3.0};
  for (const char *name : names) {
    int code = find_metric(name);
    std::fprintf(stderr, "%s = %d\n", name, code);
    if (code == -1) {
      std::fprintf(stderr, "Invalid Metric ID\n");
      continue;
    }
    if (distance(f, g, 3, code) < 0) {
      std::fprintf(stderr, "Failed positivity\n");
      continue;
    }
    double self = distance(f, f, 3, code);
    if (static_cast<int>(self) != 0) {
      std::fprintf(stderr, "distance = %f\n", self);
      std::fprintf(stderr, "Failed identity\n");
      continue;
    }
    int diff = static_cast<int>(distance(f, g, 3, code) - distance(g, f, 3, code));
    if (diff != 0) {
      std::fprintf(stderr, "diff = %f\n", static_cast<double>(std::abs(diff)));
      std::fprintf(stderr, "Failed symmetry\n");
    }
  }
}

}  // namespace mogem::detail
