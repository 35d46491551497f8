#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "initializations/init_means.h"
#include "nr/nr_util.h"
#include "nr/one_based.h"

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

void find_centroid(church_data *d, double *centroid, const row_share &share) {
  const int F = d->features;
  for (int j = 1; j <= F; j++) centroid[j] = 0.0;  // the sums, each continued in row order
  sum_over_processes(
      share, 1, [&](int) { return std::vector<sum_span>{{centroid + 1, static_cast<std::size_t>(F)}}; },
      [&](int) {
        for (int j = 1; j <= F; j++) {
          double sum = centroid[j];
          for (int i = 1; i <= d->datapoints; i++) sum += d->data[i][j];
          centroid[j] = sum;
        }
      });
  const double rows = share.alone() ? d->datapoints : static_cast<double>(share.total);
  for (int j = 1; j <= F; j++) centroid[j] = centroid[j] / rows;
}

double find_distance_to_means(double *datum, church_data *d, int N) {
  double sum = 0.0;
  for (int m = 1; m <= N; m++) sum += local_euclidean(datum, d->class_means[m], d->features);
  return sum;
}

int find_farthest_datum_from_means(church_data *d, int *indices, int N, long long first, double *score) {
  // Strictly greater wins: ties go to the lowest index and a NaN score never wins.
  double best_score = -1.0;
  int best_index = -1;
  for (int i = 1; i <= d->datapoints; i++) {
    const int index = static_cast<int>(first + i);
    if (array_contains(indices, N, index)) continue;
    double score = find_distance_to_means(d->data[i], d, N);
    if (score > best_score) {
      best_score = score;
      best_index = index;
    }
  }
  if (score) *score = best_score;
  return best_index;
}

namespace {

// The farthest row over all processes: each process's best, taken in rank order with the same
// rule (strictly greater wins), is the best one scan of all the rows finds.
int farthest_of_all(church_data *d, int *indices, int N, const row_share &share) {
  if (share.alone()) return find_farthest_datum_from_means(d, indices, N);
  double best[2];
  best[1] = find_farthest_datum_from_means(d, indices, N, share.first, &best[0]);
  const std::vector<double> all = gather_from_all(share, best, 2);
  double best_score = -1.0;
  int best_index = -1;
  for (int r = 0; r < share.size(); r++) {
    if (all[2 * r + 1] != -1 && all[2 * r] > best_score) {
      best_score = all[2 * r];
      best_index = static_cast<int>(all[2 * r + 1]);
    }
  }
  return best_index;
}

}  // namespace

void church_means(double **data, double **means, int datapoints, int features, int classes, const row_share &share) {
  church_data d{data, means, datapoints, features, classes};
  // Entry k names the data point copied into mean k; mean 1, the centroid, is no data point.
  one_based_vector<int> chosen(classes, "allocation failure in church_means()");

  find_centroid(&d, means[1], share);
  chosen[1] = -1;
  for (int k = 2; k <= classes; k++) {
    int farthest = farthest_of_all(&d, chosen.get(), k - 1, share);
    if (farthest == -1) {
      refuse_input("Error: church means found no data point with a numeric distance to the means for class %d "
                   "(does the data hold not-a-number values?)\n",
                   k);
    }
    chosen[k] = farthest;
    share_row(share, farthest - 1, data, features, means[k]);
  }
}

}  // namespace mogem::detail
