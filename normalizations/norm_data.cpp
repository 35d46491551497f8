#include "normalizations/norm_data.h"

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

}  // namespace mogem::detail
