#include "engine/model_state.h"

#include <new>

#include "engine/covariance_kinds.h"
#include "engine/kernels/kernels.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// Row pointers 1..rows into values laid out row by row, `cols` a row, after one spare value
// in front as every container has: element [r][c] is values[(r - 1) * cols + c].
void point_rows(std::vector<double *> &pointers, double *values, long rows, long cols) {
  pointers.assign(static_cast<std::size_t>(rows) + 1, nullptr);
  for (long r = 1; r <= rows; r++) pointers[r] = values + (r - 1) * cols;
}

void release_containers(em_memory *m) {
  const em_parameters *p = m->params;
  const long N = p->num_data, F = p->num_features, K = p->num_classes;
  if (m->data && !m->data_borrowed) NR_free_dmatrix(m->data, 1, N, 1, F);
  if (m->classifications) NR_free_ivector(m->classifications, 1, N);
  if (m->class_means) NR_free_dmatrix(m->class_means, 1, K, 1, F);
  m->kind->release(&m->class_variances, K, F);
  if (m->P_j) NR_free_dvector(m->P_j, 1, K);
  if (m->p_x_j) NR_free_dvector(m->p_x_j, 1, K);
  if (m->log_det) NR_free_dvector(m->log_det, 1, K);
  if (m->log_p_j) NR_free_dvector(m->log_p_j, 1, K);
  if (m->centre) NR_free_dvector(m->centre, 1, F);
  m->kind->release(&m->inv_covariance, K, F);
}

}  // namespace

em_memory *allocate_em_memory(em_parameters *p, double *rows) {
  em_memory *m = new em_memory{};
  m->params = p;
  m->kind = &kind_ops(p->em_type);
  m->kernels = &best_kernels();
  const long N = p->num_data, F = p->num_features, K = p->num_classes;
  try {
    m->classifications = NR_ivector(1, N);
    if (rows) {
      // The caller's values have no spare element in front: row 1 starts at rows itself.
      m->data_borrowed = true;
      m->data_rows.assign(static_cast<std::size_t>(N) + 1, nullptr);
      for (long i = 1; i <= N; i++) m->data_rows[i] = rows + (i - 1) * F - 1;
      m->data = m->data_rows.data();
    } else {
      m->data = NR_dmatrix(1, N, 1, F);
    }
    m->P_j = NR_dvector(1, K);
    m->class_means = NR_dmatrix(1, K, 1, F);
    long long values = 0;
    unsigned long long bytes = 0;
    if (__builtin_mul_overflow(static_cast<long long>(K), static_cast<long long>(N), &values) ||
        __builtin_mul_overflow(static_cast<unsigned long long>(values), sizeof(double), &bytes))
      NR_error("allocation failure 2 in matrix()");
    refuse_beyond_memory(bytes, "allocation failure 2 in matrix()");
    try {
      m->posterior_values.assign(static_cast<std::size_t>(values) + 1, 0.0);
      point_rows(m->posterior_rows, m->posterior_values.data(), K, N);
    } catch (const std::bad_alloc &) {
      NR_error("allocation failure 2 in matrix()");
    } catch (const std::length_error &) {
      NR_error("allocation failure 2 in matrix()");
    }
    m->P_j_x = m->posterior_rows.data();
    m->p_x_j = NR_dvector(1, K);
    m->kind->allocate(&m->class_variances, static_cast<int>(K), static_cast<int>(F));
    m->kind->allocate(&m->inv_covariance, static_cast<int>(K), static_cast<int>(F));
    m->log_det = NR_dvector(1, K);
    m->log_p_j = NR_dvector(1, K);
    if (p->center_data) m->centre = NR_dvector(1, F);
  } catch (...) {
    release_containers(m);
    delete m;
    throw;
  }

  m->features = p->num_features;
  m->datapoints = p->num_data;
  m->share = share_of(nullptr, p->num_data);
  m->classes = p->num_classes;
  m->distance_metric = p->distance_metric;
  m->schedule_scalar = p->schedule_scalar;
  m->init_temp = p->init_temp;
  m->inv_temp = 1.0;
  m->threads = 1;
  return m;
}

void release_em_memory(em_memory *m) {
  if (!m) return;
  release_containers(m);
  delete m;
}

std::vector<double> take_posteriors(em_memory *m) {
  std::vector<double> values = std::move(m->posterior_values);
  // The spare value in front goes; the rest moves down in place, without a second buffer.
  if (!values.empty()) values.erase(values.begin());
  m->posterior_rows.clear();
  m->P_j_x = nullptr;
  return values;
}

}  // namespace mogem::detail
