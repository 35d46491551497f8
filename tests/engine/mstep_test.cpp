#include "engine/em_mstep.h"

#include <gtest/gtest.h>

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
