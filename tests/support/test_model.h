// A model state for engine tests: parameters with their defaults, the given counts and
// covariance kind, data from literals; released when it goes out of scope.
#ifndef MOGEM_TESTS_SUPPORT_TEST_MODEL_H
#define MOGEM_TESTS_SUPPORT_TEST_MODEL_H

#include <memory>
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
    m_.reset(allocate_em_memory(&p_));
    for (int i = 1; i <= m_->datapoints; i++)
      for (int j = 1; j <= m_->features; j++) m_->data[i][j] = rows[i - 1][j - 1];
  }

  em_memory *operator->() const { return m_.get(); }
  em_memory *get() const { return m_.get(); }
  em_parameters &params() { return p_; }
  test_model(const test_model &) = delete;
  test_model &operator=(const test_model &) = delete;

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
  em_parameters p_;  // the model state points at it: the holder neither copies nor moves
  std::unique_ptr<em_memory> m_;
};

#endif
