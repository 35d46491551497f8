// Initial class means: writes means[k][j] for the classes k = 1..classes and the features
// j = 1..features from the data (rows 1..datapoints), by one of six methods.
//
// The random methods start a 48-bit generator of their own (common/rand48.h) from seed, so the
// same seed gives the same means on every run and on every thread; seed is the run's seed, the uniform
// generator's state word after its first draw. All routines need 1 <= classes <= datapoints,
// which the run guarantees, and own nothing beyond their call.
//
// When a method cannot give every class a numeric mean (a means file that is missing, cannot
// be opened or is short; a sample size below 1; church means with no data point of numeric
// score) it refuses the run through refuse_input (nr/nr_util.h) with one line naming the
// problem: no results are written from means that were never chosen.
#ifndef MOGEM_INITIALIZATIONS_INIT_MEANS_H
#define MOGEM_INITIALIZATIONS_INIT_MEANS_H

#include <cstdint>

#include "engine/processes.h"
#include "initializations/init_methods.h"

namespace mogem::detail {

// Dispatches on `type` (an init_method_code). RANDOM_POINT is random_sample with one sample.
// samples is used by RANDOM_SAMPLE, file (possibly null) by FROM_FILE. An unknown code leaves
// the means untouched. Over several processes (share), data holds this process's rows and
// every process gets the means one process gets from all the rows: sums go through the
// processes in row order, the farthest or drawn row is sent from the process holding it, and
// the random partition and the shuffle of the indexes are replayed backwards for just the rows
// that matter (each process keeps a map over its own rows, or over the drawn positions, never
// an array over all rows).
void init_means(double **data, double **means, int datapoints, int features, int classes, int type, int32_t seed,
                int samples, const char *file, const row_share &share = row_share{});

// Working record of church means.
struct church_data {
  double **data;
  double **class_means;
  int datapoints;
  int features;
  int classes;
};

// Mean 1 is the centroid; mean k is the data point, not chosen before, whose summed
// Euclidean distance to means 1..k-1 is greatest (ties to the lowest index). Deterministic.
void church_means(double **data, double **means, int datapoints, int features, int classes,
                  const row_share &share = row_share{});
void find_centroid(church_data *d, double *centroid, const row_share &share = row_share{});
// Index of the unchosen point (not in indices[1..N]) farthest from means 1..N, or -1 when
// no point has a numeric score; its score in *score when not null. Indexes count from `first`
// + 1 (the rows before this process's).
int find_farthest_datum_from_means(church_data *d, int *indices, int N, long long first = 0, double *score = nullptr);
double find_distance_to_means(double *datum, church_data *d, int N);
double local_euclidean(double *v1, double *v2, int n);
int array_contains(int *array, int N, int value);
void copy_datum(double *source, double *destination, int N);

// Working record of the random partition.
struct random_means_data {
  double **data;
  double **class_means;
  int datapoints;
  int features;
  int classes;
  int *classifications;    // class of each data point, 1..datapoints
  int *class_count_array;  // points per class, 1..classes
  struct rand48_stream *random;  // the draws of the random swaps
};

// Working record of the bounding-box method.
struct range_data {
  double **data;
  double **class_means;
  int datapoints;
  int features;
  int classes;
};

// Means of a random partition: round-robin classes, datapoints random swaps, class means.
void random_means(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                  const row_share &share = row_share{});
void init_classifications_random(random_means_data *d);
void estimate_means(random_means_data *d);

// Means drawn uniformly from the data's bounding box, from the minimum up to the maximum.
void random_range(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                  const row_share &share = row_share{});
void find_min_max(range_data *d, double *min, double *max);

// Mean k is the average of `samples` data points from a partial shuffle of the indices;
// samples above datapoints is lowered to datapoints; samples below 1 is a fatal error.
void random_sample(double **data, double **class_means, int datapoints, int features, int classes, int32_t seed,
                   int samples, const row_share &share = row_share{});

// Mean k is the row at floor(u x N) for the k-th uniform draw u that falls on a row not taken
// by the means before it (N the rows of all processes; the draws go on until every class has
// its own row, which ends because classes <= N).
void random_from_data(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                      const row_share &share = row_share{});

// Reads classes x features numbers, class by class, from the file `file`, each in single
// precision. A null name, an unopenable file and a file with fewer readable numbers are
// fatal errors; numbers after the ones needed are not read.
void from_file(double **means, int features, int classes, const char *file);

}  // namespace mogem::detail

#endif
