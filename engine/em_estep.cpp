#include "engine/em_estep.h"

#include <cmath>

#include "nr/nr_scoped.h"
#include "numeric/dmat_inverse.h"
#include "numeric/dvec_ops.h"

namespace {

// Posteriors of the points first..last under the per-class constants already in m. Each point
// is independent of every other, and terms holds one point's K working values.
void posteriors_of_points(em_memory *m, int first, int last, double anneal_exponent, double *terms) {
  const int K = m->classes;
  const double *log_det = m->log_det, *log_p_j = m->log_p_j;
  em_distance_op distance = m->mahalanobis_distance;
  for (int i = first; i <= last; i++) {
    terms[1] = -0.5 * (distance(m, i, 1) + log_det[1]);
    double log_max_pxj = terms[1];
    for (int k = 2; k <= K; k++) {
      terms[k] = -0.5 * (distance(m, i, k) + log_det[k]);
      if (terms[k] > log_max_pxj) log_max_pxj = terms[k];
    }
    double denom = 0.0;
    for (int k = 1; k <= K; k++) {
      terms[k] = std::exp(anneal_exponent * ((terms[k] - log_max_pxj) + log_p_j[k]));
      denom += terms[k];
    }
    const double reciprocal = 1.0 / denom;
    for (int k = 1; k <= K; k++) m->P_j_x[k][i] = terms[k] * reciprocal;
  }
}

}  // namespace

void find_P_j_x(em_memory *m) {
  const int K = m->classes;
  const double d_log_2pi = std::log(EM_TWO_PI) * m->features;
  const double anneal_exponent = m->params->algorithm == 0 ? m->inv_temp : 1.0;
  for (int k = 1; k <= K; k++) {
    m->log_det[k] = m->log_determinant(m, k) + d_log_2pi;
    m->log_p_j[k] = std::log(m->P_j[k]);
    m->build_inv_covariance(m, k);
  }
  posteriors_of_points(m, 1, m->datapoints, anneal_exponent, m->p_x_j);
}

double log_determinant_scalar(em_memory *m, int k) {
  return std::log(m->class_variances.scalar[k]) * m->features;
}

double log_determinant_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) sum += std::log(variances[j]);
  return sum;
}

double log_determinant_full(em_memory *m, int k) {
  return std::log(det_copy_alloc_dmat(m->class_variances.full[k], m->features));
}

double mahalanobis_scalar(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d;
  }
  return m->inv_covariance.scalar[k] * sum;
}

double mahalanobis_diag(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k], *inverse = m->inv_covariance.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d * inverse[j];
  }
  return sum;
}

double mahalanobis_full(em_memory *m, int i, int k) {
  const int F = m->features;
  scoped_dvector result(1, F), diff(1, F);
  subtract_dvec(m->data[i], m->class_means[k], diff.get(), F);
  left_mult_dmatrix(m->inv_covariance.full[k], F, F, diff.get(), result.get());
  return dot_product_dvec(result.get(), diff.get(), F);
}

void inv_covariance_scalar(em_memory *m, int k) {
  m->inv_covariance.scalar[k] = 1.0 / m->class_variances.scalar[k];
}

void inv_covariance_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double *inverse = m->inv_covariance.diagonal[k];
  for (int j = 1; j <= m->features; j++) inverse[j] = 1.0 / variances[j];
}

void inv_covariance_full(em_memory *m, int k) {
  invert_copy_alloc_sym_dmat(m->class_variances.full[k], m->features, m->inv_covariance.full[k]);
}
