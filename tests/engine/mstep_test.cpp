#include "engine/em_mstep.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_model.h"

using namespace mogem::detail;

namespace {

// One M-step as the EM loop runs it, from the given posteriors of every class.
double m_step(test_model &t, const std::vector<std::vector<double>> &posteriors) {
  for (int k = 1; k <= t->classes; k++) t.set_posteriors(k, posteriors[k - 1]);
  const double delta = update_P_j(t.get());
  t->kind->update_means(t.get());
  t->kind->update_variances(t.get());
  return delta;
}

// The variance of feature j of class k, whatever the kind.
double variance_of(test_model &t, int k, int j) {
  switch (t.params().em_type) {
    case SCALAR: return t->class_variances.scalar[k];
    case DIAG: return t->class_variances.diagonal[k][j];
    default: return t->class_variances.full[k][j][j];
  }
}

}  // namespace

TEST(MStep, SmallDataSetsWorkedByHand) {
  // DIAG, F = 1, points 0 and 2: mean 1, variance (0 + 4)/2 - 1 = 1.
  test_model diag({{0.0}, {2.0}}, 1, DIAG);
  diag->P_j[1] = 1.0;
  m_step(diag, {{1, 1}});
  EXPECT_EQ(diag->class_means[1][1], 1.0);
  EXPECT_EQ(diag->class_variances.diagonal[1][1], 1.0);

  // SCALAR, F = 2, points (0,0) and (2,2): mean (1,1), variance (2 + 2)/(2 x 2) = 1.
  test_model scalar({{0.0, 0.0}, {2.0, 2.0}}, 1, SCALAR);
  scalar->P_j[1] = 1.0;
  m_step(scalar, {{1, 1}});
  EXPECT_EQ(scalar->class_means[1][1], 1.0);
  EXPECT_EQ(scalar->class_means[1][2], 1.0);
  EXPECT_EQ(scalar->class_variances.scalar[1], 1.0);

  // FULL, points (0,0), (2,0), (0,2), (2,2): class 2 holds half of each of the first two,
  // class 1 the rest. Weights 3/4 and 1/4: the change is 0.25 + 0.25.
  test_model full({{0.0, 0.0}, {2.0, 0.0}, {0.0, 2.0}, {2.0, 2.0}}, 2, FULL);
  full->P_j[1] = full->P_j[2] = 0.5;
  EXPECT_EQ(m_step(full, {{0.5, 0.5, 1, 1}, {0.5, 0.5, 0, 0}}), 0.5);
  EXPECT_EQ(full->P_j[1], 0.75);
  EXPECT_EQ(full->P_j[2], 0.25);
  // Class 2: mean (1, 0); covariance of (0,0) and (2,0) around it: [[1, 0], [0, 0.001 floor]].
  EXPECT_EQ(full->class_means[2][1], 1.0);
  EXPECT_EQ(full->class_means[2][2], 0.0);
  double **V2 = full->class_variances.full[2];
  EXPECT_EQ(V2[1][1], 1.0);
  EXPECT_EQ(V2[1][2], 0.0);
  EXPECT_EQ(V2[2][2], mogem::options{}.variance_floor);
  // Class 1: weights 0.5, 0.5, 1, 1 (total 3): mean (1, 4/3); cov xy = sum w dx dy / 3 with
  // dx = +-1 and dy = -4/3, -4/3, 2/3, 2/3: (0.5*4/3 - 0.5*4/3 - 2/3 + 2/3)/3 = 0.
  EXPECT_EQ(full->class_means[1][1], 1.0);
  EXPECT_NEAR(full->class_means[1][2], 4.0 / 3.0, 1e-15);
  double **V1 = full->class_variances.full[1];
  EXPECT_NEAR(V1[1][1], 1.0, 1e-15);
  EXPECT_NEAR(V1[1][2], 0.0, 1e-15);
  EXPECT_NEAR(V1[2][2], (0.5 * 16 / 9 * 2 + 4.0 / 9 * 2) / 3, 1e-15);
  EXPECT_EQ(V1[2][1], V1[1][2]);  // mirrored bit for bit
}

// (Identical points holding the variance floor under every kind are whole runs in fit_test.)
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
    EXPECT_EQ(variance_of(t, 2, 1), 3.0);
  }
}
