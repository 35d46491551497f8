#include "engine/model_state.h"

#include <memory>

#include "engine/covariance_kinds.h"
#include "engine/kernels/kernels.h"

namespace mogem::detail {

em_memory *allocate_em_memory(em_parameters *p, double *rows) {
  auto m = std::make_unique<em_memory>();
  m->params = p;
  m->kind = &kind_ops(p->em_type);
  m->kernels = &best_kernels();
  const long N = p->num_data, F = p->num_features, K = p->num_classes;
  m->classifications = one_based_vector<int>(N);
  m->data = rows ? one_based_matrix::borrow(rows, N, F) : one_based_matrix(N, F);
  m->P_j = one_based_vector<double>(K);
  m->class_means = one_based_matrix(K, F);
  m->P_j_x = one_based_matrix(K, N);
  m->kind->make(m->class_variances, static_cast<int>(K), static_cast<int>(F));
  m->kind->make(m->inv_covariance, static_cast<int>(K), static_cast<int>(F));
  m->log_det = one_based_vector<double>(K);
  m->log_p_j = one_based_vector<double>(K);
  if (p->center_data) m->centre = one_based_vector<double>(F);
  m->features = p->num_features;
  m->datapoints = p->num_data;
  m->classes = p->num_classes;
  m->share = share_of(nullptr, p->num_data);
  return m.release();
}

void release_em_memory(em_memory *m) { delete m; }

std::vector<double> take_posteriors(em_memory *m) {
  std::vector<double> values = m->P_j_x.take_values();
  // The spare value in front goes; the rest moves down in place, without a second buffer.
  if (!values.empty()) values.erase(values.begin());
  return values;
}

}  // namespace mogem::detail
