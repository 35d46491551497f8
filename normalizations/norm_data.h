// In-place transformations of a one-based matrix (rows 1..datapoints, columns 1..features):
// the data points, or the class means with rows 1..classes.
//
// Statistics are per feature (column) for per_feature and mean_norm, per row for
// euclidean_norm; means divide by the number of rows. Scratch vectors are made and released
// inside each call. Bad arguments are reported with one line on standard error and leave the
// affected values unchanged; only running out of memory ends the run (through NR_error).
#ifndef MOGEM_NORMALIZATIONS_NORM_DATA_H
#define MOGEM_NORMALIZATIONS_NORM_DATA_H

namespace mogem::detail {

enum norm_type {
  NO_NORM = 1,
  LOG_TRANSFORM = 2,     // logarithm to the base parm
  PER_FEATURE_NORM = 3,  // every feature scaled onto 0..1
  HYPERSPHERE_NORM = 4,  // MEAN_NORM, then EUCLIDEAN_NORM
  EUCLIDEAN_NORM = 5,    // every row scaled to unit length
  MEAN_NORM = 6,         // every feature centred on its mean
  PCA_VAR = 7,           // accepted, changes nothing
  PCA_DIM = 8,           // accepted, changes nothing
  ICA = 9                // reported as not implemented
};

// Applies the normalization `type` to data. parm is the logarithm base of LOG_TRANSFORM and
// unused otherwise. An unknown type writes "Unknown normalization method: <type>".
void norm_data(double **data, int datapoints, int features, int type, double parm);

// data[i][j] = (data[i][j] - min[j]) / (max[j] - min[j]); a constant column becomes zeros.
void per_feature(double **data, int datapoints, int features);

// Divides every row by its Euclidean length. A zero row becomes not-a-number, silently.
void euclidean_norm(double **data, int datapoints, int features);

// data[i][j] = log(data[i][j]) / log(parm). A base of 1 or less is refused with one message
// and nothing changes; each value of 0 or less is refused with one message and kept.
void log_transform(double **data, int datapoints, int features, double parm);

// Subtracts from every value the mean of its column (column_means, then subtract_from_rows).
void mean_norm(double **data, int datapoints, int features);

// mean[1..features] = the mean of each column: row 1, plus rows 2..datapoints in order, divided
// by datapoints.
void column_means(double **data, int datapoints, int features, double *mean);

// data[i][j] -= mean[j] for every row.
void subtract_from_rows(double **data, int datapoints, int features, const double *mean);

// norm_data and log_transform, which report bad arguments on standard error, belong to the
// numeric support library, not to the clustering library.

}  // namespace mogem::detail

#endif
