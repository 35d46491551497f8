#include "engine/em_mstep.h"

#include <cmath>

#include "engine/em_classify.h"
#include "normalizations/norm_data.h"

namespace {

void rescale_means_if_needed(em_memory *m) {
  if (need_norm(m)) norm_data(m->class_means, m->classes, m->features, EUCLIDEAN_NORM, 0.0);
}

}  // namespace

double update_P_j(em_memory *m) {
  const int N = m->datapoints;
  const double points = N;
  double delta = 0.0;
  for (int k = 1; k <= m->classes; k++) {
    const double *posterior = m->P_j_x[k];
    double sum = 0.0;
    for (int i = 1; i <= N; i++) sum += posterior[i];
    const double weight = sum / points;
    delta += std::fabs(weight - m->P_j[k]);
    m->P_j[k] = weight;
  }
  return delta;
}

void update_means(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    const double *posterior = m->P_j_x[k];
    double *mean = m->class_means[k];
    for (int j = 1; j <= F; j++) mean[j] = 0.0;
    for (int i = 1; i <= N; i++) {
      const double w = posterior[i];
      if (w == 0.0) continue;
      const double *x = m->data[i];
      for (int j = 1; j <= F; j++) mean[j] += w * x[j];
    }
    for (int j = 1; j <= F; j++) mean[j] *= inv;
  }
  rescale_means_if_needed(m);
}

void update_variances_scalar(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  const double values = N * F;  // an integer product, as the count of summed squares
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = values * m->P_j[k];
    if (effective_weight == 0.0) continue;
    const double *posterior = m->P_j_x[k];
    const double *mean = m->class_means[k];
    double sum = 0.0;
    for (int i = 1; i <= N; i++) {
      const double w = posterior[i];
      if (w == 0.0) continue;
      const double *x = m->data[i];
      double squared_distance = 0.0;
      for (int j = 1; j <= F; j++) {
        const double d = mean[j] - x[j];
        squared_distance += d * d;
      }
      sum += w * squared_distance;
    }
    double variance = sum / effective_weight;
    if (variance < VARIANCE_FLOOR) variance = VARIANCE_FLOOR;
    m->class_variances.scalar[k] = variance;
  }
}

void update_means_and_variances_diag(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    const double *posterior = m->P_j_x[k];
    double *mean = m->class_means[k];
    double *variance = m->class_variances.diagonal[k];
    for (int j = 1; j <= F; j++) mean[j] = variance[j] = 0.0;
    for (int i = 1; i <= N; i++) {
      const double w = posterior[i];
      if (w == 0.0) continue;
      const double *x = m->data[i];
      for (int j = 1; j <= F; j++) {
        mean[j] += w * x[j];
        variance[j] += x[j] * (w * x[j]);
      }
    }
    for (int j = 1; j <= F; j++) {
      mean[j] *= inv;
      variance[j] = variance[j] * inv - mean[j] * mean[j];
      if (variance[j] < VARIANCE_FLOOR) variance[j] = VARIANCE_FLOOR;
    }
  }
  rescale_means_if_needed(m);
}

void update_variances_full(em_memory *m) {
  const int N = m->datapoints, F = m->features;
  for (int k = 1; k <= m->classes; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    const double *posterior = m->P_j_x[k];
    const double *mean = m->class_means[k];
    double **V = m->class_variances.full[k];
    for (int r = 1; r <= F; r++)
      for (int s = r; s <= F; s++) V[r][s] = 0.0;
    for (int i = 1; i <= N; i++) {
      const double w = posterior[i];
      if (w == 0.0) continue;
      const double *x = m->data[i];
      for (int r = 1; r <= F; r++) {
        const double weighted = w * (mean[r] - x[r]);
        for (int s = r; s <= F; s++) V[r][s] += weighted * (mean[s] - x[s]);
      }
    }
    for (int r = 1; r <= F; r++)
      for (int s = r; s <= F; s++) V[r][s] *= inv;
    for (int r = 1; r <= F; r++)
      if (V[r][r] < VARIANCE_FLOOR) V[r][r] = VARIANCE_FLOOR;
    for (int r = 1; r <= F; r++)
      for (int s = r + 1; s <= F; s++) V[s][r] = V[r][s];
  }
}

void no_op(em_memory *) {}
