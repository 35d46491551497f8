#include "engine/em_classify.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/em_estep.h"
#include "support/test_model.h"

using namespace mogem::detail;

TEST(Classification, TiesAndNaNGoToTheLowestClass) {
  test_model t({{0.0}, {0.0}, {0.0}}, 3, SCALAR);
  t.set_posteriors(1, {0.3, NAN, 0.2});
  t.set_posteriors(2, {0.3, 0.9, NAN});
  t.set_posteriors(3, {0.4, 0.1, 0.3});
  find_classifications(t.get());
  // A NaN best is never replaced; a NaN rival never wins.
  EXPECT_EQ((std::vector<int>(&t->classifications[1], &t->classifications[1] + 3)), (std::vector<int>{3, 1, 3}));
  t.set_posteriors(3, {0.3, 0.1, 0.2});
  find_classifications(t.get());
  EXPECT_EQ(t->classifications[1], 1);
}

TEST(Classification, ClosestMeansAndLikelihood) {
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
}
