// The linear algebra of one pattern of holes: for rows that miss some features (NaN), the
// Gaussian of a class restricted to the observed features, and the missing features' law given
// the observed ones. Pure functions of their arguments; no engine state, no threads, nothing
// printed, nothing thrown.
//
// Conventions (those of the engine, so that its handles go in unchanged):
// - Features are numbered 1..F. A row and a mean are one-based handles: row[j], mean[j] for
//   j = 1..F (m->data[i], m->class_means[k]).
// - A covariance is F x F values, row-major, contiguous, given by the address of element (1, 1):
//   element (r, c) at covariance[(r - 1) * F + (c - 1)]. A plane of a one_based_tensor is laid
//   out so (nr/one_based.h), hence `&m->class_variances.full[k][1][1]` passes class k's
//   covariance without a copy. Only the elements the pattern needs are read; both triangles of
//   those are read, so the matrix must be symmetric.
// - Within a pattern, "position t" is the t-th entry (0-based) of its observed list and
//   "position a" the a-th entry of its missing list.
//
// Every sum runs in ascending index order (of positions), with the C library's sqrt and log,
// so each result is the same bits on every run and thread count. The per-row routines
// (observed_distance(s), conditional_mean) allocate nothing; the caller gives the scratch.
//
// Typical use, one class k and one pattern p (TIED: one factor of plane 1 serves every class):
//   pattern_factor f;  // kept and reused: its vectors keep their room
//   if (!factor_pattern(&m->class_variances.full[k][1][1], F, p, &f)) ...  // the caller words it
//   observed_distances(f, m->data.get(), p.rows.data(), p.rows.size(), m->class_means[k], p, d, scratch);
//   // log density of row p.rows[r]'s observed values: -0.5 (d[r] + f.log_det + |o| ln 2 pi)
//   conditional_mean(f, m->data[i], m->class_means[k], p, filled, scratch);  // per row i
// A factor holds about 2 n^2 + n q + q^2 doubles (n observed, q missing features); with many
// patterns and classes the caller may rather factor each (pattern, class) when it needs it:
// for F = 16 a factor costs about what the distances of 40 rows do (mogem_bench,
// BM_PatternFactor against BM_ObservedDistances).
#ifndef MOGEM_ENGINE_HOLE_BLOCKS_H
#define MOGEM_ENGINE_HOLE_BLOCKS_H

#include <vector>

namespace mogem::detail {

// Which features a row has and which it misses, each list ascending, features 1..F; together
// they are 1..F. `rows`: the rows (1-based, ascending) that have this pattern, when the pattern
// comes from find_hole_patterns; empty otherwise.
struct hole_pattern {
  std::vector<int> observed;
  std::vector<int> missing;
  std::vector<int> rows;
};

// The distinct patterns of a set of rows. patterns[p] is pattern p, numbered by first
// appearance in row order (so the numbering depends only on the rows); pattern_of_row[i - 1]
// is the number of row i's pattern. A row without holes has a pattern too (empty `missing`);
// so does a row with no observed value (empty `observed`), which the caller refuses.
struct hole_patterns {
  std::vector<hole_pattern> patterns;
  std::vector<int> pattern_of_row;
};

// The patterns of `rows` rows of F values, row-major and contiguous (the engine's data:
// &m->data[1][1]). A value is missing when it is NaN (std::isnan); anything else, infinities
// included, counts as observed. Owns nothing of the caller's. Fails only as the allocator does
// (std::bad_alloc).
hole_patterns find_hole_patterns(const double *values, int rows, int F);

// The pieces of one class's Gaussian for one pattern, with n = |observed| and q = |missing|:
// - lower: the lower Cholesky factor L of Sigma_oo (n x n), column after column: L(t, u) at
//   lower[u * n + t] for t >= u (the entries above the diagonal are 0). Column-major because
//   the forward substitution of observed_distance walks down columns.
// - unit_lower: L with each column divided by its diagonal entry, L(t, u) / L(u, u), laid out
//   as `lower` (unit diagonal). The per-row routines substitute with it: the division by L(u, u)
//   then stays off their chain of dependent operations.
// - inverse_diagonal: 1 / L(t, t), t = 0..n-1.
// - log_det: ln det Sigma_oo = the sum over t of ln(pivot t), pivot t = L(t, t)^2; 0 when n = 0.
// - regression: Sigma_mo Sigma_oo^-1 (q x n, row-major: (a, t) at regression[a * n + t]).
// - conditional: Sigma_mm - Sigma_mo Sigma_oo^-1 Sigma_om (q x q, row-major, both triangles,
//   exactly symmetric), the covariance of the missing features given the observed ones. It is
//   taken as Sigma_mm - W^T W with W = L^-1 Sigma_om; rounding can leave a tiny negative value
//   on its diagonal when Sigma is nearly singular.
struct pattern_factor {
  std::vector<double> lower;
  std::vector<double> unit_lower;
  std::vector<double> inverse_diagonal;
  double log_det = 0.0;
  std::vector<double> regression;
  std::vector<double> conditional;
};

// Fills *out for `covariance` (F x F, see the conventions) and `pattern`. Takes the covariance
// and pattern read-only; resizes out's vectors (no allocation once they have had the room).
// Returns false when Sigma_oo is not positive definite: a Cholesky pivot is 0, negative or NaN
// (also only by rounding); *out is then partly written and must not be used. With no observed
// feature it returns true with log_det 0, regression empty and conditional = Sigma.
bool factor_pattern(const double *covariance, int F, const hole_pattern &pattern, pattern_factor *out);

// (x_o - mu_o)^T Sigma_oo^-1 (x_o - mu_o) for the row `row` and the class mean `mean` (one-based
// handles of F values; only the observed features are read), by forward substitution with the
// factor of `pattern`: y = U^-1 (x_o - mu_o) with U = unit_lower, then the sum over t of
// (y_t / L(t, t))^2, t ascending. scratch: at least |observed| doubles, overwritten (left
// holding y). 0 when nothing is observed.
double observed_distance(const pattern_factor &factor, const double *row, const double *mean,
                         const hole_pattern &pattern, double *scratch);

// The route through the precision P = Sigma^-1, for patterns that miss a few features: with P
// factorised once per class, a pattern only factorises the q x q block P_mm of its missing
// features, as Sigma_oo^-1 = P_oo - P_om P_mm^-1 P_mo, ln det Sigma_oo = ln det Sigma + ln det P_mm,
// the missing features' conditional mean mu_m - P_mm^-1 P_mo (x_o - mu_o) and their conditional
// covariance P_mm^-1.
// - precision: P, F x F row-major, exactly symmetric; log_det: ln det Sigma.
struct precision_factor {
  std::vector<double> precision;
  double log_det = 0.0;
};

// Fills *out for `covariance` (F x F, see the conventions) by its Cholesky factor. Returns false,
// *out unusable, when Sigma is not positive definite (a pivot 0, negative or NaN).
bool factor_precision(const double *covariance, int F, precision_factor *out);

// The pieces of one pattern (q = |missing| >= 1) on the precision route:
// - lower: the lower Cholesky factor M of P_mm, row-major q x q (M(a, c) at lower[a * q + c],
//   c <= a; above the diagonal unset); inverse_diagonal: 1 / M(a, a).
// - log_det: ln det Sigma_oo = ln det Sigma + ln det P_mm.
// - conditional: P_mm^-1, q x q row-major, both triangles, exactly symmetric.
struct missing_factor {
  std::vector<double> lower;
  std::vector<double> inverse_diagonal;
  double log_det = 0.0;
  std::vector<double> conditional;
};

// Fills *out from `precision` (of F features) for `pattern`. Returns false, *out unusable, when
// P_mm is not positive definite (only by rounding, for a nearly singular Sigma): the caller
// then takes factor_pattern.
bool factor_missing_block(const precision_factor &precision, int F, const hole_pattern &pattern, missing_factor *out);

// Rows observed_distances takes at once.
constexpr int HOLE_BLOCK = 8;

// observed_distance of `count` rows of one pattern, HOLE_BLOCK at a time, each lane doing that
// routine's operations in its order, so that out[r] is the very same value as
// observed_distance(factor, rows[row_numbers[r]], mean, pattern, ...); about twice as fast per
// row (the rows' chains of dependent operations overlap, the loads and stores are shared). rows: the engine's one-based handle (m->data.get(): rows[i][j],
// j = 1..F); row_numbers: count row numbers (pattern.rows.data() for all of the pattern's
// rows). out: count values. scratch: at least HOLE_BLOCK x |observed| doubles, overwritten.
void observed_distances(const pattern_factor &factor, const double *const *rows, const int *row_numbers, int count,
                        const double *mean, const hole_pattern &pattern, double *out, double *scratch);

// missing_out[a] = mu_m[a] + sum over t of regression(a, t) (x_o - mu_o)[t] for a = 0..q-1: the
// expected missing features of `row` given its observed ones, in the order of pattern.missing
// (0-based positions, not feature numbers). scratch: at least |observed| doubles, overwritten.
void conditional_mean(const pattern_factor &factor, const double *row, const double *mean,
                      const hole_pattern &pattern, double *missing_out, double *scratch);

}  // namespace mogem::detail

#endif
