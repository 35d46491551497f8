#include "engine/em.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_model.h"

using namespace mogem::detail;

TEST(EmLoop, StopRuleNeedsFourSettledWeightChanges) {
  // One class: every weight change is 0, so only the start values 10, 20, 30 of the ring hold
  // the loop; slot 0 starts at 0, so a call from a step of 1 mod 4 stops after three.
  test_model t({{1.0}, {2.0}, {4.0}}, 1, SCALAR);
  t.params().max_em_iterations = 100;
  initialize_parameters(t.get());
  EXPECT_EQ(t->class_variances.scalar[1], 0.001);
  EXPECT_EQ(em_run(t.get(), 0), 3);
  EXPECT_EQ(t->P_j[1], 1.0);
  EXPECT_EQ(em_run(t.get(), 1), 3);
  EXPECT_EQ(em_run(t.get(), 5), 7);
  EXPECT_EQ(em_run(t.get(), 6), 9);
  t.params().max_em_iterations = 2;
  EXPECT_EQ(em_run(t.get(), 0), 2);  // the budget runs out first
  // (Coinciding initial means, whose weights become NaN, stop the fit: fit_test.cpp.)
}
