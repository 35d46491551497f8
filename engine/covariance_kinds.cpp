#include "engine/covariance_kinds.h"

#include "engine/em_estep.h"
#include "engine/em_mstep.h"
#include "engine/holes.h"

namespace mogem::detail {

namespace {

long one(int) { return 1; }
long per_feature(int F) { return F; }
long per_pair(int F) { return static_cast<long>(F) * F; }

void make_scalar(em_variances &v, int K, int) { v.scalar = one_based_vector<double>(K); }
void make_diag(em_variances &v, int K, int F) { v.diagonal = one_based_matrix(K, F); }
void make_full(em_variances &v, int K, int F) { v.full = one_based_tensor(K, F, F); }

void spherical_scalar(em_variances &v, int k, int, double variance) { v.scalar[k] = variance; }
void spherical_diag(em_variances &v, int k, int F, double variance) {
  for (int j = 1; j <= F; j++) v.diagonal[k][j] = variance;
}
void spherical_full(em_variances &v, int k, int F, double variance) {
  for (int r = 1; r <= F; r++)
    for (int s = 1; s <= F; s++) v.full[k][r][s] = r == s ? variance : 0.0;
}

void add_scalar(em_variances &v, int k, int, double x) { v.scalar[k] += x; }
void add_diag(em_variances &v, int k, int F, double x) {
  for (int j = 1; j <= F; j++) v.diagonal[k][j] += x;
}
void add_full(em_variances &v, int k, int F, double x) {
  for (int j = 1; j <= F; j++) v.full[k][j][j] += x;
}

long triangle(int F) { return static_cast<long>(F) * (F + 1) / 2; }
long each_one(int K, int) { return K; }
long each_per_feature(int K, int F) { return static_cast<long>(K) * F; }
long each_triangle(int K, int F) { return K * triangle(F); }
long one_triangle(int, int F) { return triangle(F); }

void copy_scalar(em_variances &v, int from, int to, int) { v.scalar[to] = v.scalar[from]; }
void copy_diag(em_variances &v, int from, int to, int F) {
  for (int j = 1; j <= F; j++) v.diagonal[to][j] = v.diagonal[from][j];
}
void copy_full(em_variances &v, int from, int to, int F) {
  for (int r = 1; r <= F; r++)
    for (int s = 1; s <= F; s++) v.full[to][r][s] = v.full[from][r][s];
}

void features_scalar(const em_variances &v, int k, int F, double *out) {
  for (int j = 1; j <= F; j++) out[j] = v.scalar[k];
}
void features_diag(const em_variances &v, int k, int F, double *out) {
  for (int j = 1; j <= F; j++) out[j] = v.diagonal[k][j];
}
void features_full(const em_variances &v, int k, int F, double *out) {
  for (int j = 1; j <= F; j++) out[j] = v.full[k][j][j];
}

double &value_scalar(em_variances &v, int k, int, long) { return v.scalar[k]; }
double &value_diag(em_variances &v, int k, int, long e) { return v.diagonal[k][1 + e]; }
double &value_full(em_variances &v, int k, int F, long e) { return v.full[k][1 + e / F][1 + e % F]; }

// TIED: every class reads and writes plane 1, the shared covariance.
void spherical_tied(em_variances &v, int k, int F, double variance) {
  // The classes are given their start in ascending order; the shared start is the narrowest.
  if (k == 1 || variance < v.full[1][1][1]) spherical_full(v, 1, F, variance);
}
void add_tied(em_variances &, int, int, double) {}
void copy_tied(em_variances &, int, int, int) {}
void features_tied(const em_variances &v, int, int F, double *out) { features_full(v, 1, F, out); }
double &value_tied(em_variances &v, int, int F, long e) { return value_full(v, 1, F, e); }

long index_scalar(int k, int, int) { return k; }
long index_diag(int k, int j, int F) { return static_cast<long>(k) * F + j; }
long index_full(int k, int j, int F) { return (static_cast<long>(k) * F + j) * F + j; }
long index_tied(int, int j, int F) { return static_cast<long>(j) * F + j; }

long offset_scalar(int k, int) { return k - 1; }
long offset_diag(int k, int F) { return static_cast<long>(k - 1) * F; }
long offset_full(int k, int F) { return static_cast<long>(k - 1) * F * F; }
long offset_tied(int, int) { return 0; }

double linear_cost(int F) { return F + 32.0; }
double quadratic_cost(int F) { return static_cast<double>(F) * F + 32; }

const covariance_kind_ops kinds[4] = {
    {SCALAR, one, make_scalar, spherical_scalar, add_scalar, each_one, copy_scalar, features_scalar, value_scalar,
     index_scalar, offset_scalar, m_step_scalar, log_determinant_scalar, mahalanobis_scalar,
     inv_covariance_scalar, &kernel_set::distances_scalar, linear_cost, m_step_holes_scalar, false},
    {DIAG, per_feature, make_diag, spherical_diag, add_diag, each_per_feature, copy_diag, features_diag, value_diag,
     // One pass over the data gives the diagonal kind's weights, means and variances together.
     index_diag, offset_diag, m_step_diag, log_determinant_diag, mahalanobis_diag,
     inv_covariance_diag, &kernel_set::distances_diag, linear_cost, m_step_holes_diag, true},
    {FULL, per_pair, make_full, spherical_full, add_full, each_triangle, copy_full, features_full, value_full,
     index_full, offset_full, m_step_full, log_determinant_full, mahalanobis_full,
     inv_covariance_full, &kernel_set::distances_full, quadratic_cost, m_step_holes_full, false},
    // The shared inverse, copied to every class, serves the full kind's distances.
    {TIED, per_pair, make_full, spherical_tied, add_tied, one_triangle, copy_tied, features_tied, value_tied,
     index_tied, offset_tied, m_step_tied, log_determinant_tied, mahalanobis_full,
     inv_covariance_tied, &kernel_set::distances_full, quadratic_cost, m_step_holes_tied, false},
};

}  // namespace

const covariance_kind_ops &kind_ops(int em_type) { return kinds[em_type]; }

long model_values(const covariance_kind_ops &ops, int K, int F) {
  return K < 1 ? 0 : ops.model_offset(K, F) + ops.values_per_class(F);
}

void class_variances(em_memory *m, double **v) {
  const covariance_kind_ops &ops = *m->kind;
  for (int k = 1; k <= m->classes; k++) ops.feature_variances(m->class_variances, k, m->features, v[k]);
}

}  // namespace mogem::detail
