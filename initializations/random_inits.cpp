// The random initializations. Each starts a 48-bit generator of its own from the seed, so its
// draws depend only on the seed it is given.
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/rand48.h"
#include "initializations/init_means.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// A zero-filled int array for the indexes 1..count.
int *zeroed_ints(int count, const char *routine) {
  int *a = static_cast<int *>(std::calloc(static_cast<size_t>(count) + 1, sizeof(int)));
  if (!a) NR_error(routine);
  return a;
}

// An index 1..n drawn from the 48-bit generator.
int draw_index(rand48_stream &random, int n) { return static_cast<int>(random.next_integer() % n) + 1; }

void zero_means(double **means, int classes, int features) {
  for (int k = 1; k <= classes; k++)
    for (int j = 1; j <= features; j++) means[k][j] = 0.0;
}

}  // namespace

void init_classifications_random(random_means_data *d) {
  const int N = d->datapoints, K = d->classes;
  for (int i = 1; i <= N; i++) {
    d->classifications[i] = (i - 1) % K + 1;
    d->class_count_array[d->classifications[i]]++;
  }
  for (int s = 1; s <= N; s++) {
    int a = draw_index(*d->random, N);
    int b = draw_index(*d->random, N);
    std::swap(d->classifications[a], d->classifications[b]);
  }
}

void estimate_means(random_means_data *d) {
  const int N = d->datapoints, F = d->features, K = d->classes;
  zero_means(d->class_means, K, F);
  for (int i = 1; i <= N; i++) {
    double *mean = d->class_means[d->classifications[i]];
    for (int j = 1; j <= F; j++) mean[j] += d->data[i][j];
  }
  for (int k = 1; k <= K; k++) {
    double count = d->class_count_array[k];
    for (int j = 1; j <= F; j++) d->class_means[k][j] /= count;
  }
}

void random_means(double **data, double **means, int datapoints, int features, int classes, int32_t seed) {
  rand48_stream random(seed);
  random_means_data d{data, means, datapoints, features, classes, nullptr, nullptr, &random};
  d.classifications = zeroed_ints(datapoints, "allocation failure in random_means()");
  d.class_count_array = static_cast<int *>(std::calloc(static_cast<size_t>(classes) + 1, sizeof(int)));
  if (!d.class_count_array) {
    std::free(d.classifications);
    NR_error("allocation failure in random_means()");
  }
  init_classifications_random(&d);
  estimate_means(&d);
  std::free(d.class_count_array);
  std::free(d.classifications);
}

void find_min_max(range_data *d, double *min, double *max) {
  for (int j = 1; j <= d->features; j++) min[j] = max[j] = d->data[1][j];
  for (int i = 2; i <= d->datapoints; i++) {
    for (int j = 1; j <= d->features; j++) {
      double v = d->data[i][j];
      if (v > max[j])
        max[j] = v;
      else if (v < min[j])
        min[j] = v;
    }
  }
}

void random_range(double **data, double **means, int datapoints, int features, int classes, int32_t seed) {
  range_data d{data, means, datapoints, features, classes};
  rand48_stream random(seed);
  double *min = NR_dvector(1, features);
  double *range = NR_dvector(1, features);
  find_min_max(&d, min, range);
  for (int j = 1; j <= features; j++) range[j] -= min[j];
  for (int k = 1; k <= classes; k++)
    for (int j = 1; j <= features; j++) means[k][j] = random.next_unit() * range[j] + min[j];
  NR_free_dvector(range, 1, features);
  NR_free_dvector(min, 1, features);
}

void random_sample(double **data, double **class_means, int datapoints, int features, int classes, int32_t seed,
                   int samples) {
  const int N = datapoints, F = features, K = classes;
  if (samples < 1) {
    // No point would go into any mean: every mean would be 0/0 or -0.0.
    refuse_input(
        "Error: the random_sample initialization needs num_samples of at least 1 (it is %d); set "
        "num_samples in the parameter file",
        samples);
  }
  rand48_stream random(seed);
  if (samples > N) samples = N;

  int *order = zeroed_ints(N, "allocation failure in random_sample()");
  for (int i = 1; i <= N; i++) order[i] = i;
  // K * samples may pass the int range before it is capped at N.
  const long long wanted = static_cast<long long>(K) * samples;
  const int M = wanted < N ? static_cast<int>(wanted) : N;
  // The partner is drawn from the whole list, not only from the entries not yet placed.
  for (int i = 1; i <= M; i++) std::swap(order[i], order[draw_index(random, N)]);

  zero_means(class_means, K, F);
  for (int k = 1; k <= K; k++) {
    // Disjoint windows while the shuffled part suffices; otherwise windows spread over the
    // whole list, which may overlap.
    const long long start = M < N ? static_cast<long long>(k - 1) * samples
                                  : static_cast<long long>(k - 1) * (N - samples) / K;
    for (long long s = start + 1; s <= start + samples; s++) {
      const double *point = data[order[s]];
      for (int j = 1; j <= F; j++) class_means[k][j] += point[j];
    }
  }
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) class_means[k][j] /= static_cast<double>(samples);
  std::free(order);
}

}  // namespace mogem::detail
