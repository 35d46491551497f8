// The E-step where its values could become undefined. (Its posteriors, every kind and path, are
// held to the point-by-point formula in kernels/kernels_test.cpp; its densities, through the
// log-likelihood, to SciPy's in tests/python/test_statistics.py.)
#include "engine/em_estep.h"

#include <gtest/gtest.h>

#include "support/test_model.h"

using namespace mogem::detail;

namespace {

// Classes centred on 0 and 2 with unit variance and the given weights.
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
