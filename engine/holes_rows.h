// The inner loops of the scalar and diagonal kinds with holes, over blocks of rows: a hole is
// masked (its term multiplied by 0, every observed term by 1), so the loops need no pattern and
// run across vectors. Adding a masked 0 leaves a sum as it was, so each sum is the sum over the
// observed features (or the expected values) in ascending order, whatever the lanes. Built for
// AVX-512, AVX2 and the baseline, chosen by the processor; the same bits on each.
#ifndef MOGEM_ENGINE_HOLES_ROWS_H
#define MOGEM_ENGINE_HOLES_ROWS_H

#include "engine/em_types.h"
#include "engine/hole_blocks.h"

namespace mogem::detail {

// Rows of a block.
constexpr int HOLE_ROWS = 64;

// Doubles of working storage for diagonal_posteriors on F features and K classes.
long diagonal_scratch(int F, int K);

// The E-step of rows first..end-1 (1-based) for SCALAR or DIAG: each row's log density under
// class k over its observed features, -0.5 (sum of d^2 / variance + sum of ln variance + n ln 2 pi)
// with n its observed features; then the posteriors into P_j_x and, when log_density is not
// null, the row's log density (or annealing objective) at log_density[i - 1], as the
// complete-data E-step takes them. log_variance and inverse: K + 1 rows of F + 1 values
// ([k F + j], j from 1; SCALAR: [k]). pattern_log_det, when not null: for each pattern p and
// class k, [p K + k - 1] = the sum of ln variance over the pattern's observed features
// (ascending) + n ln 2 pi, taken instead of summing it per row (the same bits), with
// pattern_of_row[i - 1] the pattern of row i. scratch: diagonal_scratch(F, K) doubles.
void diagonal_posteriors(em_memory *m, int first, int end, const double *log_variance, const double *inverse,
                         const double *pattern_log_det, const int *pattern_of_row, double *log_density,
                         double *scratch);

// The M-step sums of classes from..to-1 over this process's rows, each added in ascending row
// order: weights[k] += w (w the row's posterior of class k); values[k][j] += w x and, with
// squares, squared[k][j] += x (w x) for an observed value x; holes[k][j] += w for a hole. The
// expected sums follow from these three (holes.h); a row of posterior 0 adds to the weight
// only.
void diagonal_sums(em_memory *m, int from, int to, bool squares, double *weights, double *const *values,
                   double *const *squared, double *const *holes);

// FULL, TIED: weights[k] += w and sums[k][j] += w x^ for classes from..to-1 over this process's
// rows in ascending order, x^ the row's value or, for a hole, its conditional mean under class k
// kept by the last E-step (holes.h).
void full_means(em_memory *m, int from, int to, double *weights, double *const *sums);

// The width of a row of full_scatters' sums: F rounded up to whole vectors.
int full_width(int F);

// FULL, TIED: for each weighted class k of from..to-1, over this process's rows in ascending
// order (rows of posterior 0 left out), scatter[(k - 1) F W + r W + s] += (w d_r) d_s,
// d = class mean - x^ (r, s from 0, s >= r; entries left of the diagonal get values nobody
// reads), and in conditional (the same layout) w times the conditional covariance of each pair
// of the row's holes; W = full_width(F).
void full_scatters(em_memory *m, int from, int to, double *scatter, double *conditional);

// Doubles of working storage for pattern_distances on F features.
long pattern_scratch(int F);

// The observed values of `count` (at most HOLE_ROWS) rows of one pattern (rows[0..count-1],
// 1-based) laid out feature by feature: values[t HOLE_ROWS + b] = row b's observed feature t
// (0-based position in pattern.observed), 0 past count up to whole vectors. values: at least
// F x HOLE_ROWS doubles.
void gather_observed(const em_memory *m, const hole_pattern &pattern, const int *rows, int count, double *values);

// FULL, TIED: for those rows (values from gather_observed) and class k with the factor of the
// pattern's observed block (hole_blocks.h): distance[b] = the squared Mahalanobis distance of
// row b's observed values, and the row's conditional means of its holes into the hole record
// (holes.h); the arithmetic of observed_distance and conditional_mean, row by row, in vectors of
// rows. scratch: pattern_scratch(F) doubles.
void pattern_distances(em_memory *m, const hole_pattern &pattern, const pattern_factor &factor, int k,
                       const double *values, const int *rows, int count, double *distance, double *scratch);

// FULL, TIED, a pattern with holes on the precision route (hole_blocks.h): what
// pattern_distances gives, from the class's precision and the pattern's factor of P_mm:
// distance[b] = d^T P_oo d - (P_mo d)^T P_mm^-1 (P_mo d) for row b's differences d from the mean,
// and the conditional means mu_m - P_mm^-1 P_mo d into the hole record. scratch: pattern_scratch(F).
void precision_distances(em_memory *m, const hole_pattern &pattern, const precision_factor &precision,
                         const missing_factor &block, int k, const double *values, const int *rows, int count,
                         double *distance, double *scratch);

// The classes precision_distances_by_class takes side by side, in the lanes of a vector.
int class_lanes();

// precision_distances for every class at once, the classes side by side (class_lanes() of them,
// in groups g = 0, 1, ... of classes g C + 1 .. g C + C, C = class_lanes(), the last group's
// spare lanes filled with any class's values): the same bits as precision_distances gives each
// class, faster for a pattern of few rows. precisions: per group F x F x C, element (r, s) of
// lane c at [((r - 1) F + (s - 1)) C + c]; blocks: per group (q^2 + q) C, the missing_factor's
// lower ((a q + c') C + c) then its inverse_diagonal (q^2 C + a C + c); means: per group F x C
// ([(j - 1) C + c]). Writes terms[k HOLE_ROWS + b] = row b's distance under class k (k = 1..K)
// and the conditional means into the hole record. scratch: pattern_scratch(F).
void precision_distances_by_class(em_memory *m, const hole_pattern &pattern, const double *precisions,
                                  const double *blocks, const double *means, const double *values, const int *rows,
                                  int count, double *terms, double *scratch);

// SCALAR: for each weighted class k of from..to-1, over this process's rows in ascending order
// (rows of posterior 0 left out), sums[k] += w (the row's expected squared distance from the
// class mean): over its features in ascending order, (x - mean)^2 for a value and
// hole_terms[k][j] (the old variance plus the squared move of the mean) for a hole.
void scalar_sums(em_memory *m, int from, int to, double *const *hole_terms, double *sums);

}  // namespace mogem::detail

#endif
