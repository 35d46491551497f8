// Codes of the ways to choose the initial class means, as the parameter file names them
// ("church_means", "random_means", "random_point", "random_range", "random_sample", "file"), and
// the starts of the key init_params.
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
  GIVEN_MEANS = 8,    // the caller's means at full precision (the library's initial_means)
  KMEANS = 9,         // the classes of k-means (k-means++ centres, Lloyd's iterations), then an M-step
  KMEANS_PLUS_PLUS = 10,         // the classes of the k-means++ centres, then an M-step
  RANDOM_RESPONSIBILITIES = 11,  // random responsibilities per row, then an M-step
  RANDOM_FROM_DATA = 12          // distinct random rows as means
};

}  // namespace mogem::detail

#endif
