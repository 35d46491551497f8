#include "initializations/init_means.h"

namespace mogem::detail {

void init_means(double **data, double **means, int datapoints, int features, int classes, int type, int32_t seed,
                int samples, const char *file, const row_share &share) {
  switch (type) {
    case CHURCH_MEANS: church_means(data, means, datapoints, features, classes, share); break;
    case RANDOM_MEANS: random_means(data, means, datapoints, features, classes, seed, share); break;
    case RANDOM_POINT: random_sample(data, means, datapoints, features, classes, seed, 1, share); break;
    case RANDOM_RANGE: random_range(data, means, datapoints, features, classes, seed, share); break;
    case RANDOM_SAMPLE: random_sample(data, means, datapoints, features, classes, seed, samples, share); break;
    case FROM_FILE: from_file(means, features, classes, file); break;
    case RANDOM_FROM_DATA: random_from_data(data, means, datapoints, features, classes, seed, share); break;
    default: break;  // the other starts do not choose means alone
  }
}

}  // namespace mogem::detail
