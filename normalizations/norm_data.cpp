#include "normalizations/norm_data.h"

#include <cmath>
#include <cstdio>

namespace mogem::detail {

void norm_data(double **data, int datapoints, int features, int type, double parm) {
  switch (type) {
    case NO_NORM:
    case PCA_VAR:
    case PCA_DIM: break;
    case LOG_TRANSFORM: log_transform(data, datapoints, features, parm); break;
    case PER_FEATURE_NORM: per_feature(data, datapoints, features); break;
    case HYPERSPHERE_NORM:
      mean_norm(data, datapoints, features);
      euclidean_norm(data, datapoints, features);
      break;
    case EUCLIDEAN_NORM: euclidean_norm(data, datapoints, features); break;
    case MEAN_NORM: mean_norm(data, datapoints, features); break;
    case ICA: std::fprintf(stderr, "ICA is not implemented\n"); break;
    default: std::fprintf(stderr, "Unknown normalization method: %d\n", type); break;
  }
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
