#include "engine/em_estep.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_model.h"

using namespace mogem::detail;

namespace {

const double LN_2PI = 1.8378770664093453;

// Points 0 and 2 on a line (or the given ones); classes centred on 0 and 2 with unit variance.
void two_classes(test_model &t, double w1, double w2) {
  t.set_mean(1, {0.0});
  t.set_mean(2, {2.0});
  t.set_spherical(1, 1.0);
  t.set_spherical(2, 1.0);
  t->P_j[1] = w1;
  t->P_j[2] = w2;
  find_P_j_x(t.get());
}

}  // namespace

TEST(EStep, TwoPointsTwoClassesWorkedByHand) {
  test_model t({{0.0}, {2.0}}, 2, SCALAR);
  two_classes(t, 0.5, 0.5);
  // The other class's density is e^-2 of the own one: 1 / (1 + e^-2).
  const double near = 1.0 / (1.0 + std::exp(-2.0));
  EXPECT_NEAR(t->P_j_x[1][1], near, 1e-15);
  EXPECT_NEAR(t->P_j_x[2][1], 1.0 - near, 1e-15);
  EXPECT_NEAR(t->P_j_x[2][2], near, 1e-15);
  EXPECT_NEAR(t->log_det[1], LN_2PI, 1e-15);
  EXPECT_EQ(t->log_p_j[2], std::log(0.5));

  // Unequal weights: 0.75 / (0.75 + 0.25 e^-2) for the first point.
  two_classes(t, 0.75, 0.25);
  const double e2 = std::exp(-2.0);
  EXPECT_NEAR(t->P_j_x[1][1], 0.75 / (0.75 + 0.25 * e2), 1e-15);
  EXPECT_NEAR(t->P_j_x[1][2], 0.75 * e2 / (0.75 * e2 + 0.25), 1e-15);

  // The exponent inv_temp raises weight and density (annealing); plain EM keeps it at 1.
  t->inv_temp = 0.5;
  two_classes(t, 0.75, 0.25);
  const double a = std::sqrt(0.75), b = std::sqrt(0.25) * std::exp(-1.0);
  EXPECT_NEAR(t->P_j_x[1][1], a / (a + b), 1e-15);
}

TEST(EStep, FarPointsZeroWeightsAndSingleClassesStayDefined) {
  // Untempered densities of the far point underflow; relative to the best class they do not.
  test_model far({{0.0}, {1e4}}, 2, SCALAR);
  two_classes(far, 0.5, 0.5);
  EXPECT_EQ(far->P_j_x[2][2], 1.0);
  EXPECT_EQ(far->P_j_x[1][2], 0.0);
  test_model t({{0.0}, {2.0}}, 2, SCALAR);
  two_classes(t, 1.0, 0.0);
  EXPECT_EQ(t->P_j_x[2][2], 0.0);
  EXPECT_EQ(t->P_j_x[1][2], 1.0);

  test_model one({{5.0}, {-3.0}}, 1, DIAG);
  one.set_mean(1, {0.0});
  one.set_spherical(1, 0.001);
  one->P_j[1] = 1.0;
  find_P_j_x(one.get());
  EXPECT_EQ(one->P_j_x[1][1], 1.0);
  EXPECT_EQ(one->P_j_x[1][2], 1.0);
}

TEST(EStep, FullCovarianceDistanceAndDeterminant) {
  test_model t({{1.0, 1.0}}, 1, FULL);
  t.set_mean(1, {0.0, 0.0});
  double **V = t->class_variances.full[1];
  V[1][1] = 4;
  V[1][2] = V[2][1] = 2;
  V[2][2] = 3;
  t->P_j[1] = 1.0;
  find_P_j_x(t.get());
  // Inverse [[0.375, -0.25], [-0.25, 0.5]]: (1,1) is at 0.375 - 0.5 + 0.5 = 0.375.
  EXPECT_NEAR(mahalanobis_full(t.get(), 1, 1), 0.375, 1e-15);
  EXPECT_NEAR(t->log_det[1], std::log(8.0) + 2 * LN_2PI, 1e-14);
  EXPECT_EQ(t->P_j_x[1][1], 1.0);
}
