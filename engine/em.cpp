#include "engine/em.h"

#include "engine/em_classify.h"
#include "io/dump_files.h"
#include "engine/em_mstep.h"
#include "cli/progress.h"
#include "initializations/init_means.h"
#include "normalizations/norm_data.h"

namespace mogem::detail {

namespace {

const double CONVERGENCE_THRESHOLD = 1e-6;
const int TRACE_LENGTH = 4;

// What differs between the covariance kinds, chosen once per EM run so that the loop itself
// never branches on the kind.
struct covariance_operations {
  em_step_op update_variances;
  em_step_op update_means;
  em_class_value_op log_determinant;
  em_distance_op mahalanobis_distance;
  em_class_op build_inv_covariance;
};

const covariance_operations operations_by_kind[3] = {
    {update_variances_scalar, update_means, log_determinant_scalar, mahalanobis_scalar, inv_covariance_scalar},
    {update_means_and_variances_diag, no_op, log_determinant_diag, mahalanobis_diag, inv_covariance_diag},
    {update_variances_full, update_means, log_determinant_full, mahalanobis_full, inv_covariance_full},
};

void set_spherical_variance(em_memory *m, int k, double variance) {
  const int F = m->features;
  switch (m->params->em_type) {
    case SCALAR:
      m->class_variances.scalar[k] = variance;
      break;
    case DIAG:
      for (int j = 1; j <= F; j++) m->class_variances.diagonal[k][j] = variance;
      break;
    case FULL:
      for (int r = 1; r <= F; r++)
        for (int s = 1; s <= F; s++) m->class_variances.full[k][r][s] = r == s ? variance : 0.0;
      break;
    default:
      break;
  }
}

}  // namespace

void set_covariance_operations(em_memory *m) {
  // The parameter reader stores only the three kinds.
  const covariance_operations &ops = operations_by_kind[m->params->em_type];
  m->update_variances = ops.update_variances;
  m->update_means = ops.update_means;
  m->update_P_j = update_P_j;
  m->find_P_j_x = find_P_j_x;
  m->log_determinant = ops.log_determinant;
  m->mahalanobis_distance = ops.mahalanobis_distance;
  m->build_inv_covariance = ops.build_inv_covariance;
}

void initialize_parameters(em_memory *m) {
  em_parameters *p = m->params;
  const int N = m->datapoints, F = m->features, K = m->classes;
  if (p->center_data) norm_data(m->data, N, F, MEAN_NORM, 0.0);
  init_means(m->data, m->class_means, N, F, K, p->init_method, p->random_seed, p->samples, p->means_file);
  if (need_norm(m)) {
    norm_data(m->data, N, F, EUCLIDEAN_NORM, 0.0);
    norm_data(m->class_means, K, F, EUCLIDEAN_NORM, 0.0);
  }
  for (int k = 1; k <= K; k++) {
    m->P_j[k] = 1.0 / K;
    for (int i = 1; i <= N; i++) m->P_j_x[k][i] = 1.0 / K;
    set_spherical_variance(m, k, find_closest(k, m));
  }
}

int em_run(em_memory *m, int start_index) {
  // The weight changes of the last four iterations, by step mod 4. The start values keep a
  // call from stopping before slots 1..3 hold real changes.
  double trace[TRACE_LENGTH] = {0.0, 10.0, 20.0, 30.0};
  const int iterations = m->params->max_em_iterations;
  const int step = m->params->output_stepsize;
  set_covariance_operations(m);

  int i = start_index;
  while (i < start_index + iterations) {
    if (step > 0 && i % step == 0) dumpvars(m, i);
    m->find_P_j_x(m);
    const double delta = m->update_P_j(m);
    m->update_means(m);
    m->update_variances(m);
    trace[i % TRACE_LENGTH] = delta;
    if (m->progress) progress_em_step(m->progress, i, delta);
    const double sum = trace[0] + trace[1] + trace[2] + trace[3];
    if (sum < CONVERGENCE_THRESHOLD) break;
    i++;
  }
  if (step > 0 && i % step == 0) dumpvars(m, i);
  return i;
}

void em(em_memory *m) {
  initialize_parameters(m);
  if (m->params->output_internal == 1) dumpdata(m);
  em_run(m, 0);
}

}  // namespace mogem::detail
