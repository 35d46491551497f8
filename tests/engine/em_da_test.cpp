#include "engine/em_da.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/run_binary.h"
#include "support/test_model.h"

using namespace mogem::detail;

TEST(AnnealingSteps, CoincidenceVarianceChoiceAndPush) {
  test_model t({{0.0, 0.0}, {2.0, 0.0}, {0.0, 1.0}, {2.0, 1.0}}, 3, DIAG);
  for (int k = 1; k <= 3; k++) {
    t.set_mean(k, {1.0, 0.5});
    t.set_spherical(k, 1.0);
  }
  EXPECT_EQ(the_same(1, t.get()), 2);
  EXPECT_EQ(the_same(3, t.get()), 1);
  t->class_variances.diagonal[2][2] = 0.0;  // a zero variance never coincides
  EXPECT_EQ(the_same(1, t.get()), 3);
  EXPECT_EQ(the_same(2, t.get()), 0);
  t.set_mean(3, {1.0, 0.7});  // squared distance 0.04, not below 0.01 x 1
  EXPECT_EQ(the_same(1, t.get()), 0);

  // Largest product of variances; ties to the lower class; class 1 when none is above 0.
  t->class_variances.diagonal[2][2] = 1.0;
  EXPECT_EQ(find_max_variance_cluster(t.get()), 1);
  t->class_variances.diagonal[3][1] = 1.5;
  EXPECT_EQ(find_max_variance_cluster(t.get()), 3);
  for (int k = 1; k <= 3; k++) t.set_spherical(k, 0.0);
  EXPECT_EQ(find_max_variance_cluster(t.get()), 1);

  // Push: the four points spread most along x about (1, 0.5); the largest variance is 4, so
  // the means move by 0.01 x 2 along x, in opposite directions.
  t.set_spherical(1, 4.0);
  t.set_mean(2, {1.0, 0.5});
  t.set_posteriors(1, {0.5, 0.5, 0.5, 0.5});
  t.set_posteriors(2, {0.5, 0.5, 0.5, 0.5});
  perturbe(1, 2, t.get());
  EXPECT_NEAR(std::fabs(t->class_means[1][1] - 1.0), 0.02, 1e-15);
  EXPECT_NEAR(t->class_means[1][1] - 1.0, 1.0 - t->class_means[2][1], 1e-15);
  EXPECT_NEAR(t->class_means[1][2], 0.5, 1e-15);
}

// Pushes that rounding loses do not hold the run for ever.
TEST(Annealing, PushesLostInRoundingDoNotHoldTheRun) {
  // Two points one unit in the last place apart near 1e9: the twins of the split coincide, and
  // their push (0.01 of that spacing) rounds away. The run still cools to the end and returns.
  scratch_dir dir;
  run_result r = run_input(dir, "rows 2 cols 1 num_clusters 2 algorithm em_annealing output_model 1 begin x "
                                "1000000000 1000000000.0000001192092896");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.read("labels.txt"), "1\n1\n");
  // No EM step runs (the default budget is 0): the split halved class 1's starting weight 1/2.
  EXPECT_EQ(dir.read("labels.weights"), "0.250000\n0.250000\n");

  // Four points along a line of slope 1e-12 near x = 1e9, a few units in the last place apart.
  // The push along that line rounds away in x and moves y by 1e-12 of what parting the twins
  // needs, so they would be pushed for ever; the run stops pushing them 1000 stages after the
  // temperature is down, and then finds the final model degenerate (its variances are 0).
  r = run_input(dir, "rows 4 cols 2 num_clusters 2 algorithm em_annealing output_model 1 begin x "
                     "1000000000.0 0.0 1000000000.0000001 1.1920928955078125e-19 "
                     "1000000000.0000002 2.384185791015625e-19 1000000000.0000004 3.5762786865234377e-19");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("Error: the fit broke down in the final E-step", 0), 0u) << r.err;
}
