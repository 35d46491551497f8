#include <cmath>
#include <cstdio>

#include "distances/dist_metrics.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"

namespace mogem::detail {

void mean_norm(double **data, int datapoints, int features) {
  double *mean = NR_dvector(1, features);
  for (int j = 1; j <= features; j++) mean[j] = data[1][j];
  for (int i = 2; i <= datapoints; i++)
    for (int j = 1; j <= features; j++) mean[j] += data[i][j];
  for (int j = 1; j <= features; j++) mean[j] /= datapoints;
  for (int i = 1; i <= datapoints; i++)
    for (int j = 1; j <= features; j++) data[i][j] -= mean[j];
  NR_free_dvector(mean, 1, features);
}

void euclidean_norm(double **data, int datapoints, int features) {
  double *origin = NR_dvector(1, features);
  for (int j = 1; j <= features; j++) origin[j] = 0.0;
  for (int i = 1; i <= datapoints; i++) {
    double magnitude = euclidean(origin, data[i], features);
    for (int j = 1; j <= features; j++) data[i][j] /= magnitude;
  }
  NR_free_dvector(origin, 1, features);
}

void per_feature(double **data, int datapoints, int features) {
  double *max = NR_dvector(1, features);
  double *min = NR_dvector(1, features);
  double *range = NR_dvector(1, features);
  for (int j = 1; j <= features; j++) max[j] = min[j] = data[1][j];
  for (int i = 2; i <= datapoints; i++) {
    for (int j = 1; j <= features; j++) {
      if (data[i][j] > max[j])
        max[j] = data[i][j];
      else if (data[i][j] < min[j])
        min[j] = data[i][j];
    }
  }
  for (int j = 1; j <= features; j++) {
    range[j] = max[j] - min[j];
    if (range[j] == 0.0) range[j] = 1.0;
  }
  for (int i = 1; i <= datapoints; i++)
    for (int j = 1; j <= features; j++) data[i][j] = (data[i][j] - min[j]) / range[j];
  NR_free_dvector(range, 1, features);
  NR_free_dvector(min, 1, features);
  NR_free_dvector(max, 1, features);
}

void log_transform(double **data, int datapoints, int features, double parm) {
  if (!(parm > 1.0)) {
    std::fprintf(stderr, "Cannot transform to a log base <= 1.0\n");
    return;
  }
  double log_base = std::log(parm);
  for (int i = 1; i <= datapoints; i++) {
    for (int j = 1; j <= features; j++) {
      if (data[i][j] <= 0)
        std::fprintf(stderr, "Cannot take the log of a number <= 0.0\n");
      else
        data[i][j] = std::log(data[i][j]) / log_base;
    }
  }
}

}  // namespace mogem::detail
