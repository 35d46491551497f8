// Codes of the ways to choose the initial class means, as the parameter file names them
// ("church_means", "random_means", "random_point", "random_range", "random_sample", "file").
#ifndef MOGEM_INITIALIZATIONS_INIT_METHODS_H
#define MOGEM_INITIALIZATIONS_INIT_METHODS_H

namespace mogem::detail {

enum init_method_code {
  CHURCH_MEANS = 1,   // centroid first, then the points farthest from the means chosen so far
  RANDOM_MEANS = 2,   // means of a random partition of the data
  RANDOM_POINT = 3,   // randomly chosen data points
  RANDOM_RANGE = 4,   // uniform within the data's bounding box
  RANDOM_SAMPLE = 5,  // averages of random windows of `num_samples` points
  FROM_FILE = 6,      // read from `means_file`
  FROM_MODEL = 7,     // the whole starting model from a saved one (init_method model)
  GIVEN_MEANS = 8     // the caller's means at full precision (the library's initial_means)
};

}  // namespace mogem::detail

#endif
