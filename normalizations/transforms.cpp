#include <cmath>

#include "distances/dist_metrics.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"

namespace mogem::detail {

void column_means(double **data, int datapoints, int features, double *mean) {
  for (int j = 1; j <= features; j++) mean[j] = data[1][j];
  for (int i = 2; i <= datapoints; i++)
    for (int j = 1; j <= features; j++) mean[j] += data[i][j];
  for (int j = 1; j <= features; j++) mean[j] /= datapoints;
}

void subtract_from_rows(double **data, int datapoints, int features, const double *mean) {
  for (int i = 1; i <= datapoints; i++)
    for (int j = 1; j <= features; j++) data[i][j] -= mean[j];
}

void mean_norm(double **data, int datapoints, int features) {
  double *mean = NR_dvector(1, features);
  column_means(data, datapoints, features, mean);
  subtract_from_rows(data, datapoints, features, mean);
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

}  // namespace mogem::detail
