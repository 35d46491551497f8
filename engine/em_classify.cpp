#include "engine/em_classify.h"

#include <cmath>

#include "distances/dist_metrics.h"
#include "engine/covariance_kinds.h"
#include "engine/em_estep.h"
#include "nr/one_based.h"

namespace mogem::detail {

namespace {
const double LARGEST_FLOAT = 3.4028234663852886e38;
}  // namespace

void find_classifications(em_memory *m) {
  for (int i = 1; i <= m->datapoints; i++) {
    int best = 1;
    double best_value = m->P_j_x[1][i];
    for (int k = 2; k <= m->classes; k++) {
      if (m->P_j_x[k][i] > best_value) {
        best = k;
        best_value = m->P_j_x[k][i];
      }
    }
    m->classifications[i] = best;
  }
}

double find_closest(int k, em_memory *m) {
  double closest = m->classes == 1 ? 0.001 : 1e10;
  for (int j = 1; j <= m->classes; j++) {
    if (j == k) continue;
    const double d = euclidean_squared(m->class_means[k], m->class_means[j], m->features);
    if (d < closest) closest = d;
  }
  return closest;
}

int metric_need_norm(int metric) { return metric == CORRELATION ? 1 : 0; }

int need_norm(em_memory *m) { return metric_need_norm(m->params->distance_metric); }

double find_log_likelihood(em_memory *m) {
  const int K = m->classes;
  const double log_two_pi_d = std::log(EM_TWO_PI) * m->features;
  one_based_vector<double> log_dets(K);
  const covariance_kind_ops &kind = *m->kind;
  for (int k = 1; k <= K; k++) log_dets.get()[k] = kind.log_determinant(m, k);
  double likelihood = 0.0;
  for (int i = 1; i <= m->datapoints; i++) {
    double point_likelihood = 0.0;
    for (int k = 1; k <= K; k++)
      point_likelihood += std::exp(-0.5 * (kind.mahalanobis_distance(m, i, k) + log_dets.get()[k])) * m->P_j[k];
    likelihood += std::log(point_likelihood) - 0.5 * log_two_pi_d;
  }
  return likelihood;
}

int reasonable_number(double num) {
  return !std::isnan(num) && num > -LARGEST_FLOAT && num < LARGEST_FLOAT ? 1 : 0;
}

}  // namespace mogem::detail
