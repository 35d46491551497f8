// Distances between one-based vectors of doubles, selected by a metric code.
//
// Every routine reads elements 1..n of its vectors (rows 1..m of a matrix) and never element
// 0; none allocates memory or keeps state. Results accumulate over i = 1..n in ascending
// order. Bad arguments are reported with one line on standard error and the call goes on:
// nothing here ends the run.
#ifndef MOGEM_DISTANCES_DIST_METRICS_H
#define MOGEM_DISTANCES_DIST_METRICS_H

#include "distances/metric_codes.h"

namespace mogem::detail {

// Distance of the metric `type` between v1 and v2: EUCLIDEAN, EUCLIDEAN_SQUARED, CORRELATION
// (1 - the uncentred correlation, so 0..2) or CANBERRA. Any other code writes
// "Unknown distance metric: <type>" and returns 0.0.
double distance(double *v1, double *v2, int n, int type);

// v3[i] = distance(v1, m2[i], n, type) for the rows i = 1..m. The two Euclidean metrics run
// without a per-row dispatch; an unknown code is reported once per row and stores 0.0.
void distance2(double *v1, double **m2, int n, int m, double *v3, int type);

// Metric code of a name, or -1. A name matches, ignoring case, any string that begins with
// it, and a longer matching name wins: "euclidean_squared..." is EUCLIDEAN_SQUARED,
// "correlation_centered" is CORRELATION.
int find_metric(const char *s);

// Square root of the sum of (v2[i] - v1[i])^2; 0 for n <= 0.
double euclidean(double *v1, double *v2, int n);
// The sum of (v2[i] - v1[i])^2; 0 for n <= 0.
double euclidean_squared(double *v1, double *v2, int n);
// The uncentred correlation (cosine of the angle) of v1 and v2, in -1..1. Not a number when
// either vector is all zeros or n <= 0.
double correlation(double *v1, double *v2, int n);
// Sum of |v1[i] - v2[i]| / (|v1[i]| + |v2[i]|) over the i whose denominator is not 0; in 0..n.
double canberra(double *v1, double *v2, int n);

// v3[i] = euclidean(v1, m2[i], n), respectively euclidean_squared, for the rows i = 1..m.
void euclidean2(double *v1, double **m2, int n, int m, double *v3);
void euclidean_squared2(double *v1, double **m2, int n, int m, double *v3);

// v3[i] = (v1[i] + v2[i]) * 0.5 for i = 1..n.
void euclidean_mean(double *v1, double *v2, double *v3, int n);
// v3[i] = (a1 * v1[i] + a2 * v2[i]) / (a1 + a2) for i = 1..n, the reciprocal taken once.
void euclidean_weighted_mean(double a1, double *v1, double a2, double *v2, double *v3, int n);

// Self-test of the four metrics on (1, 1, 1) and (1, 2, 3): writes "<name> = <code>" per
// metric and a line for each failed check (positivity, identity, symmetry) on standard error.
void test_metrics();

}  // namespace mogem::detail

#endif
