#include "engine/model_state.h"

#include <cstdlib>

#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void alloc_variances(em_variances *v, const em_parameters *p) {
  const long K = p->num_classes, F = p->num_features;
  switch (p->em_type) {
    case SCALAR: v->scalar = NR_dvector(1, K); break;
    case DIAG: v->diagonal = NR_dmatrix(1, K, 1, F); break;
    case FULL: v->full = NR_d3tensor(1, K, 1, F, 1, F); break;
    default: break;
  }
}

void dealloc_variances(em_variances *v, const em_parameters *p) {
  const long K = p->num_classes, F = p->num_features;
  switch (p->em_type) {
    case SCALAR:
      if (v->scalar) NR_free_dvector(v->scalar, 1, K);
      break;
    case DIAG:
      if (v->diagonal) NR_free_dmatrix(v->diagonal, 1, K, 1, F);
      break;
    case FULL:
      if (v->full) NR_free_d3tensor(v->full, 1, K, 1, F, 1, F);
      break;
    default: break;
  }
  *v = em_variances{};
}

// Releases every container that exists, with the sizes of the parameter record; a model state
// whose allocation stopped part way is released too.
void release_containers(em_memory *m) {
  const em_parameters *p = m->params;
  const long N = p->num_data, F = p->num_features, K = p->num_classes;
  if (m->data) NR_free_dmatrix(m->data, 1, N, 1, F);
  if (m->classifications) NR_free_ivector(m->classifications, 1, N);
  if (m->class_means) NR_free_dmatrix(m->class_means, 1, K, 1, F);
  dealloc_variances(&m->class_variances, p);
  if (m->P_j) NR_free_dvector(m->P_j, 1, K);
  if (m->P_j_x) NR_free_dmatrix(m->P_j_x, 1, K, 1, N);
  if (m->p_x_j) NR_free_dvector(m->p_x_j, 1, K);
  if (m->log_det) NR_free_dvector(m->log_det, 1, K);
  if (m->log_p_j) NR_free_dvector(m->log_p_j, 1, K);
  dealloc_variances(&m->inv_covariance, p);
  m->data = m->class_means = m->P_j_x = nullptr;
  m->classifications = nullptr;
  m->P_j = m->p_x_j = m->log_det = m->log_p_j = nullptr;
}

}  // namespace

void alloc_class_variances(em_memory *m, em_parameters *p) { alloc_variances(&m->class_variances, p); }

void alloc_inverse_variances(em_memory *m, em_parameters *p) { alloc_variances(&m->inv_covariance, p); }

void dealloc_class_variances(em_memory *m) { dealloc_variances(&m->class_variances, m->params); }

void dealloc_inverse_variances(em_memory *m) { dealloc_variances(&m->inv_covariance, m->params); }

em_memory *allocate_em_memory(em_parameters *p) {
  em_memory *m = new em_memory{};
  m->params = p;
  const long N = p->num_data, F = p->num_features, K = p->num_classes;
  try {
    m->classifications = NR_ivector(1, N);
    m->data = NR_dmatrix(1, N, 1, F);
    m->P_j = NR_dvector(1, K);
    m->class_means = NR_dmatrix(1, K, 1, F);
    m->P_j_x = NR_dmatrix(1, K, 1, N);
    m->p_x_j = NR_dvector(1, K);
    alloc_class_variances(m, p);
    alloc_inverse_variances(m, p);
    m->log_det = NR_dvector(1, K);
    m->log_p_j = NR_dvector(1, K);
  } catch (const run_exit &) {
    // The containers made so far go back before the run ends; the means-file copy stays
    // with the parameter record, whose owner releases it.
    release_containers(m);
    delete m;
    throw;
  }

  m->features = p->num_features;
  m->datapoints = p->num_data;
  m->classes = p->num_classes;
  m->distance_metric = p->distance_metric;
  m->schedule_scalar = p->schedule_scalar;
  m->init_temp = p->init_temp;
  return m;
}

void deallocate_em_memory(em_memory *m) {
  std::free(m->params->means_file);
  m->params->means_file = nullptr;
  release_containers(m);
}

void release_em_records(em_memory *m) {
  delete m->params;
  delete m;
}

}  // namespace mogem::detail
