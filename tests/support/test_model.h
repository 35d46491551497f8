// A model state for engine tests: parameters with their defaults, the given counts and
// covariance kind, data from literals, the kind's operations stored as the EM loop stores
// them; released when it goes out of scope.
#ifndef MOGEM_TESTS_SUPPORT_TEST_MODEL_H
#define MOGEM_TESTS_SUPPORT_TEST_MODEL_H

#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/model_state.h"
#include "engine/parameters.h"

using namespace mogem::detail;  // the tests reach into the engine

class test_model {
 public:
  test_model(const std::vector<std::vector<double>> &rows, int K, int em_type) {
    p_ = parameters_of(mogem::options{}, rows.size(), rows[0].size());
    p_.num_classes = K;
    p_.em_type = em_type;
    m_ = allocate_em_memory(&p_);
    m_->threads = 1;
    for (int i = 1; i <= m_->datapoints; i++)
      for (int j = 1; j <= m_->features; j++) m_->data[i][j] = rows[i - 1][j - 1];
    set_covariance_operations(m_);
  }
  ~test_model() { release_em_memory(m_); }
  test_model(const test_model &) = delete;
  test_model &operator=(const test_model &) = delete;

  em_memory *operator->() const { return m_; }
  em_memory *get() const { return m_; }
  em_parameters &params() { return p_; }

  void set_mean(int k, const std::vector<double> &mean) const {
    for (int j = 1; j <= m_->features; j++) m_->class_means[k][j] = mean[j - 1];
  }
  // A spherical covariance of the kind: variance on the diagonal, 0 elsewhere.
  void set_spherical(int k, double variance) const {
    m_->kind->set_spherical(m_->class_variances, k, m_->features, variance);
  }
  void set_posteriors(int k, const std::vector<double> &posteriors) const {
    for (int i = 1; i <= m_->datapoints; i++) m_->P_j_x[k][i] = posteriors[i - 1];
  }

 private:
  em_parameters p_;
  em_memory *m_;
};

#endif
