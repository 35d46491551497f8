#include <cmath>

#include "distances/dist_metrics.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"
#include "nr/one_based.h"

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
  one_based_vector<double> mean(features);
  column_means(data, datapoints, features, mean.get());
  subtract_from_rows(data, datapoints, features, mean.get());
}

void euclidean_norm(double **data, int datapoints, int features) {
  one_based_vector<double> origin(features);  // zero
  for (int i = 1; i <= datapoints; i++) {
    double magnitude = euclidean(origin.get(), data[i], features);
    for (int j = 1; j <= features; j++) data[i][j] /= magnitude;
  }
}

void per_feature(double **data, int datapoints, int features) {
  one_based_vector<double> max(features), min(features), range(features);
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
}

}  // namespace mogem::detail
