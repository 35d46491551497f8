#include "engine/covariance_kinds.h"

#include "engine/em_estep.h"
#include "engine/em_mstep.h"

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

long index_scalar(int k, int, int) { return k; }
long index_diag(int k, int j, int F) { return static_cast<long>(k) * F + j; }
long index_full(int k, int j, int F) { return (static_cast<long>(k) * F + j) * F + j; }

double linear_cost(int F) { return F + 32.0; }
double quadratic_cost(int F) { return static_cast<double>(F) * F + 32; }

const covariance_kind_ops kinds[3] = {
    {SCALAR, one, make_scalar, spherical_scalar, add_scalar, one, copy_scalar, features_scalar, value_scalar,
     index_scalar, update_means, update_variances_scalar, log_determinant_scalar, mahalanobis_scalar,
     inv_covariance_scalar, &kernel_set::distances_scalar, linear_cost},
    {DIAG, per_feature, make_diag, spherical_diag, add_diag, per_feature, copy_diag, features_diag, value_diag,
     // One pass over the data gives the diagonal kind's means and variances together.
     index_diag, no_op, update_means_and_variances_diag, log_determinant_diag, mahalanobis_diag, inv_covariance_diag,
     &kernel_set::distances_diag, linear_cost},
    {FULL, per_pair, make_full, spherical_full, add_full, triangle, copy_full, features_full, value_full,
     index_full, update_means, update_variances_full, log_determinant_full, mahalanobis_full, inv_covariance_full,
     &kernel_set::distances_full, quadratic_cost},
};

}  // namespace

const covariance_kind_ops &kind_ops(int em_type) { return kinds[em_type]; }

void class_variances(em_memory *m, double **v) {
  const covariance_kind_ops &ops = *m->kind;
  for (int k = 1; k <= m->classes; k++) ops.feature_variances(m->class_variances, k, m->features, v[k]);
}

}  // namespace mogem::detail
