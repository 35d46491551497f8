#include "engine/em.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/em_classify.h"
#include "engine/em_mstep.h"
#include "support/test_model.h"

using namespace mogem::detail;

namespace {

const std::vector<std::vector<double>> two_groups = {{0.0, 0.1}, {0.2, 0.0}, {0.1, 0.3},
                                                     {5.0, 5.1}, {5.2, 4.9}, {4.8, 5.0}};

}  // namespace

TEST(EmLoop, ZeroBudgetRunsNoIteration) {
  test_model t(two_groups, 2, DIAG);
  t.params().max_em_iterations = 0;
  em(t.get());
  EXPECT_EQ(t->P_j_x[1][4], 0.5);  // the uniform start, untouched by any E-step
  EXPECT_EQ(t->P_j[1], 0.5);
  EXPECT_EQ(em_run(t.get(), 7), 7);
  EXPECT_EQ(t->update_variances, update_means_and_variances_diag);  // operations stored all the same
}

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

  // Coinciding initial means give zero variances and NaN weight changes, which never settle.
  test_model nan({{1.0}, {1.0}, {1.0}}, 2, SCALAR);
  nan.params().max_em_iterations = 9;
  initialize_parameters(nan.get());
  EXPECT_EQ(nan->class_variances.scalar[1], 0.0);
  EXPECT_EQ(em_run(nan.get(), 0), 9);
  EXPECT_TRUE(std::isnan(nan->P_j[1]));
}

TEST(EmLoop, SeparatedGroupsSettleEarly) {
  for (int kind = SCALAR; kind <= FULL; kind++) {
    test_model t(two_groups, 2, kind);
    t.params().max_em_iterations = 1000;
    initialize_parameters(t.get());
    const int stopped = em_run(t.get(), 0);
    EXPECT_LT(stopped, 50) << kind;
    EXPECT_GE(stopped, 3);
    EXPECT_NEAR(t->P_j[1], 0.5, 1e-9);
    find_classifications(t.get());
    const int *label = t->classifications;
    EXPECT_EQ((std::vector<int>(label + 1, label + 4)), std::vector<int>(3, label[1]));
    EXPECT_EQ((std::vector<int>(label + 4, label + 7)), std::vector<int>(3, label[4]));
    EXPECT_NE(label[1], label[4]);
  }
}

TEST(Classification, TiesAndNaNGoToTheLowestClass) {
  test_model t({{0.0}, {0.0}, {0.0}}, 3, SCALAR);
  t.set_posteriors(1, {0.3, NAN, 0.2});
  t.set_posteriors(2, {0.3, 0.9, NAN});
  t.set_posteriors(3, {0.4, 0.1, 0.3});
  find_classifications(t.get());
  // A NaN best is never replaced; a NaN rival never wins.
  EXPECT_EQ((std::vector<int>(t->classifications + 1, t->classifications + 4)), (std::vector<int>{3, 1, 3}));
  t.set_posteriors(3, {0.3, 0.1, 0.2});
  find_classifications(t.get());
  EXPECT_EQ(t->classifications[1], 1);
}

TEST(Classification, ClosestMeansLikelihoodAndNumberChecks) {
  test_model t({{0.0, 0.0}}, 3, SCALAR);
  t.set_mean(1, {0.0, 0.0});
  t.set_mean(2, {3.0, 4.0});
  t.set_mean(3, {1e6, 0.0});
  EXPECT_EQ(find_closest(1, t.get()), 25.0);  // squared, whatever the run's metric
  EXPECT_EQ(find_closest(3, t.get()), 1e10);  // capped by the start value
  t.set_mean(3, {3.0, 4.0});
  EXPECT_EQ(find_closest(2, t.get()), 0.0);
  test_model one({{0.0}, {1.0}}, 1, SCALAR);
  EXPECT_EQ(find_closest(1, one.get()), 0.001);

  one.set_mean(1, {0.0});
  one.set_spherical(1, 1.0);
  one->P_j[1] = 1.0;
  find_P_j_x(one.get());
  // ln N(0; 0, 1) + ln N(1; 0, 1) = -ln(2 pi) - 0.5.
  EXPECT_NEAR(find_log_likelihood(one.get()), -std::log(EM_TWO_PI) - 0.5, 1e-15);

  EXPECT_EQ(reasonable_number(0.0), 1);
  EXPECT_EQ(reasonable_number(3.4e38), 1);
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 3.4028234663852886e38, -3.4028234663852886e38})
    EXPECT_EQ(reasonable_number(bad), 0) << bad;
}
