#include "engine/em_mstep.h"

#include <gtest/gtest.h>

#include "engine/em_classify.h"
#include "engine/em_estep.h"
#include "support/test_model.h"

using namespace mogem::detail;

namespace {

// One M-step as the EM loop runs it, from the given posteriors of every class.
double m_step(test_model &t, const std::vector<std::vector<double>> &posteriors) {
  for (int k = 1; k <= t->classes; k++) t.set_posteriors(k, posteriors[k - 1]);
  return t->kind->m_step(t.get());
}

}  // namespace

// (The sums of every kind, to the bit, are in kernels/kernels_test.cpp; the variance floor of
// every kind is in fit_test.cpp.)
TEST(MStep, AClassWithoutPosteriorsKeepsItsModel) {
  for (int kind = SCALAR; kind <= FULL; kind++) {
    test_model t({{0.0}, {2.0}, {4.0}}, 2, kind);
    t->P_j[1] = t->P_j[2] = 0.5;
    t.set_mean(2, {7.0});
    t.set_spherical(2, 3.0);
    EXPECT_EQ(m_step(t, {{1, 1, 1}, {0, 0, 0}}), 1.0);
    EXPECT_EQ(t->P_j[2], 0.0);
    EXPECT_EQ(t->class_means[2][1], 7.0);
    EXPECT_EQ(t->class_means[1][1], 2.0);
    EXPECT_EQ(t->kind->value(t->class_variances, 2, 1, 0), 3.0);  // its (first) variance
  }
}

// The tied kind pools the scatter of both classes around their own means over all 8 rows and
// adds reg_covar once. The expected values are numpy's (float64), computed once from these
// rows and posteriors: nk = P.sum(0); mu = P.T @ X / nk; S = sum over k of
// (P[:, k, None] * (X - mu[k])).T @ (X - mu[k]) / 8 + 0.25 I; and the log-likelihood
// sum_i log sum_k w_k N(x_i | mu_k, S) with numpy.linalg's inverse and slogdet.
TEST(MStep, TiedPoolsTheClassesScatterOverAllRows) {
  test_model t({{0, 0}, {1, 0.5}, {2, 1.5}, {0.5, 2}, {5, 5}, {6, 5.5}, {5.5, 7}, {7, 6}}, 2, TIED);
  t.params().reg_covar = 0.25;
  const std::vector<double> first = {1, 0.9, 0.8, 0.7, 0.2, 0.1, 0, 0.05};
  std::vector<double> second;
  for (double p : first) second.push_back(1 - p);
  m_step(t, {first, second});
  EXPECT_NEAR(t->P_j[1], 0.46875, 1e-15);
  EXPECT_NEAR(t->class_means[1][2], 1.3066666666666664, 1e-14);
  EXPECT_NEAR(t->class_means[2][1], 5.223529411764706, 1e-14);
  for (int k = 1; k <= 2; k++) {  // every class reads the one matrix
    double out[3];
    t->kind->feature_variances(t->class_variances, k, 2, out);
    EXPECT_NEAR(out[1], 3.174205882352941, 1e-14);
    EXPECT_NEAR(out[2], 2.7710637254901958, 1e-14);
    EXPECT_NEAR(t->kind->value(t->class_variances, k, 2, 1), 2.3345294117647057, 1e-14);
    EXPECT_EQ(t->kind->value(t->class_variances, k, 2, 2), t->kind->value(t->class_variances, k, 2, 1));
  }
  find_P_j_x(t.get());
  EXPECT_EQ(t->log_det[1], t->log_det[2]);
  EXPECT_NEAR(find_log_likelihood(t.get()), -28.213560846054843, 1e-12);
}

// The E-step of the EM loop takes the M-step's first sums (weights, means and the diagonal
// kind's squares) block by block over the rows of its first part; the M-step adds the other
// parts' rows on. The step must be the one of the M-step's own pass to the bit, on one thread
// and on two, a last partial block included.
TEST(MStep, TheEStepsEarlySumsGiveTheStepOfTheMStepsOwnPass) {
  std::vector<std::vector<double>> rows;
  unsigned state = 12345;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) / 4294967296.0; };
  for (int i = 0; i < 3000; i++) rows.push_back({next() + (i % 3), 2 * next() - (i % 3), next() * next()});
  for (int threads = 1; threads <= 2; threads++)
    for (int kind = SCALAR; kind <= TIED; kind++) {
      test_model early(rows, 3, kind), own(rows, 3, kind);
      for (test_model *t : {&early, &own}) {
        (*t)->threads = threads;
        for (int k = 1; k <= 3; k++) {
          (*t)->P_j[k] = 1.0 / 3;
          t->set_mean(k, {k - 1.0, 1.0 - k, 0.5});
          t->set_spherical(k, 0.5 * k);
        }
      }
      early->early.wanted = true;
      find_P_j_x(early.get());
      ASSERT_TRUE(early->early.taken) << kind;
      EXPECT_EQ(early->early.rows < 3000, threads == 2) << "the first part's rows: " << early->early.rows;
      find_P_j_x(own.get());
      ASSERT_FALSE(own->early.taken);
      EXPECT_EQ(early->kind->m_step(early.get()), own->kind->m_step(own.get())) << kind;
      EXPECT_FALSE(early->early.taken);
      for (int k = 1; k <= 3; k++) {
        EXPECT_EQ(early->P_j[k], own->P_j[k]) << kind;
        for (int j = 1; j <= 3; j++) EXPECT_EQ(early->class_means[k][j], own->class_means[k][j]) << kind;
        for (long e = 0; e < early->kind->values_per_class(3); e++)
          EXPECT_EQ(early->kind->value(early->class_variances, k, 3, e),
                    own->kind->value(own->class_variances, k, 3, e))
              << kind;
      }
    }
}
