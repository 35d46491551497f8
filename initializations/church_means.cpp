#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "initializations/init_means.h"
#include "nr/nr_util.h"

namespace mogem::detail {

double local_euclidean(double *v1, double *v2, int n) {
  double sum = 0.0;
  for (int i = 1; i <= n; i++) {
    double d = v1[i] - v2[i];
    sum += d * d;
  }
  return std::sqrt(sum);
}

int array_contains(int *array, int N, int value) {
  for (int i = 1; i <= N; i++)
    if (array[i] == value) return 1;
  return 0;
}

void copy_datum(double *source, double *destination, int N) {
  for (int i = 1; i <= N; i++) destination[i] = source[i];
}

void find_centroid(church_data *d, double *centroid) {
  for (int j = 1; j <= d->features; j++) {
    double sum = 0.0;
    for (int i = 1; i <= d->datapoints; i++) sum += d->data[i][j];
    centroid[j] = sum / d->datapoints;
  }
}

double find_distance_to_means(double *datum, church_data *d, int N) {
  double sum = 0.0;
  for (int m = 1; m <= N; m++) sum += local_euclidean(datum, d->class_means[m], d->features);
  return sum;
}

int find_farthest_datum_from_means(church_data *d, int *indices, int N) {
  // Strictly greater wins: ties go to the lowest index and a NaN score never wins.
  double best_score = -1.0;
  int best_index = -1;
  for (int i = 1; i <= d->datapoints; i++) {
    if (array_contains(indices, N, i)) continue;
    double score = find_distance_to_means(d->data[i], d, N);
    if (score > best_score) {
      best_score = score;
      best_index = i;
    }
  }
  return best_index;
}

void church_means(double **data, double **means, int datapoints, int features, int classes) {
  church_data d{data, means, datapoints, features, classes};
  // Entry k names the data point copied into mean k; mean 1, the centroid, is no data point.
  int *chosen = static_cast<int *>(std::malloc((classes + 1) * sizeof(int)));
  if (!chosen) NR_error("allocation failure in church_means()");

  find_centroid(&d, means[1]);
  chosen[1] = -1;
  for (int k = 2; k <= classes; k++) {
    int farthest = find_farthest_datum_from_means(&d, chosen, k - 1);
    if (farthest == -1) {
      std::free(chosen);
      refuse_input("Error: church means found no data point with a numeric distance to the means for class %d "
                   "(does the data hold not-a-number values?)\n",
                   k);
    }
    chosen[k] = farthest;
    copy_datum(data[farthest], means[k], features);
  }
  std::free(chosen);
}

}  // namespace mogem::detail
