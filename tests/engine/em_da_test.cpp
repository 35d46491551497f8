#include "engine/em_da.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/em_classify.h"
#include "engine/em_da_pc.h"
#include "support/one_based.h"
#include "support/run_binary.h"
#include "support/test_model.h"

using namespace mogem::detail;

namespace {

const int GROUP_SIZE = 8;

// Three well separated groups of eight points each, every group spread in both features so
// that a full covariance of any group can be factorised.
std::vector<std::vector<double>> three_groups() {
  const double centres[3][2] = {{0.0, 0.0}, {6.0, 6.0}, {0.0, 9.0}};
  const double offsets[GROUP_SIZE][2] = {{0.3, 0.1}, {-0.2, 0.25}, {0.1, -0.3}, {-0.35, -0.1},
                                         {0.2, 0.3}, {-0.1, -0.2}, {0.05, 0.15}, {-0.25, 0.05}};
  std::vector<std::vector<double>> rows;
  for (const auto &c : centres)
    for (const auto &o : offsets) rows.push_back({c[0] + o[0], c[1] + o[1]});
  return rows;
}

void use_annealing(test_model &t, int budget) {
  t.params().algorithm = 0;
  t.params().max_em_iterations = budget;
}

}  // namespace

TEST(PrincipalComponent, WeightedCovarianceWorkedByHand) {
  using rows_t = std::vector<std::vector<double>>;
  const rows_t three = {{0, 0}, {2, 0}, {1, 5}}, line = {{0, 0}, {2, 2}};
  const struct {
    const rows_t &rows;
    std::vector<double> mean, weights;
    rows_t expected;
  } cases[] = {
      {three, {1, 0}, {1, 1, 0}, {{2, 0}, {0, 0}}},  // two points of weight 1: squares 2 over 2 - 1
      {three, {1, 0}, {0.25, 0.25, 0}, {{1, 0}, {0, 0}}},  // half a point: divided by the weight itself
      {three, {1, 0}, {0, 0, 0}, {{0, 0}, {0, 0}}},        // no weight at all: zeros, not NaN
      {line, {1, 1}, {1, 1}, {{2, 2}, {2, 2}}},            // off-diagonal terms, mirrored
  };
  for (const auto &c : cases) {
    one_based_matrix rows(c.rows), cov(2, 2, -7.0);
    one_based_vector mean(c.mean), weights(c.weights);
    est_weighted_covar(cov.get(), rows.get(), mean.get(), weights.get(), static_cast<int>(c.rows.size()), 2);
    EXPECT_EQ(cov.row(1), c.expected[0]);
    EXPECT_EQ(cov.row(2), c.expected[1]);
  }
  one_based_matrix rows(three);
  one_based_vector column_means({-7, -7});
  DA_mean_dmat(rows.get(), column_means.get(), 3, 2);
  EXPECT_EQ(column_means.get()[1], 1.0);
  EXPECT_EQ(column_means.get()[2], 5.0 / 3.0);
}

TEST(PrincipalComponent, FollowsTheAxisOfTheWeightedCloud) {
  // Points spread along (1, 2) around (1, 1) held by classes 1 and 2 together; points spread
  // along (2, -1) belong to class 3 only and must not tilt the direction.
  std::vector<std::vector<double>> rows;
  std::vector<double> shared, other;
  for (int s = -3; s <= 3; s++) {
    const double jitter = (s % 2 == 0 ? 0.05 : -0.05);
    rows.push_back({1 + s - 2 * jitter, 1 + 2 * s + jitter});
    shared.push_back(1.0);
    other.push_back(0.0);
    rows.push_back({1 + 20.0 * s, 1 - 10.0 * s});
    shared.push_back(0.0);
    other.push_back(1.0);
  }
  test_model t(rows, 3, DIAG);
  std::vector<double> half(shared.size());
  for (std::size_t x = 0; x < shared.size(); x++) half[x] = shared[x] * 0.5;
  t.set_posteriors(1, half);
  t.set_posteriors(2, half);
  t.set_posteriors(3, other);
  t.set_mean(1, {1.2, 1.1});
  t.set_mean(2, {0.8, 0.9});  // midpoint (1, 1)
  one_based_matrix v(2, 2, -7.0);
  compute_pc(1, 2, t.get(), v.get());
  const double sign = v[1][1] > 0 ? 1.0 : -1.0;
  EXPECT_NEAR(sign * v[1][1], 1 / std::sqrt(5.0), 2e-3);
  EXPECT_NEAR(sign * v[2][1], 2 / std::sqrt(5.0), 2e-3);
  EXPECT_NEAR(v[1][1] * v[1][1] + v[2][1] * v[2][1], 1.0, 1e-14);
}

TEST(AnnealingSteps, CoincidenceVarianceChoiceAndPush) {
  test_model t({{0.0, 0.0}, {2.0, 0.0}, {0.0, 1.0}, {2.0, 1.0}}, 3, DIAG);
  for (int k = 1; k <= 3; k++) t.set_mean(k, {1.0, 0.5});
  t.set_spherical(1, 1.0);
  t.set_spherical(2, 1.0);
  t.set_spherical(3, 1.0);
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

TEST(Annealing, ReachesExactlyTheRequestedClassCount) {
  for (int kind = SCALAR; kind <= FULL; kind++) {
    test_model t(three_groups(), 3, kind);
    use_annealing(t, 50);
    em_da(t.get());
    EXPECT_EQ(t->classes, 3) << kind;
    find_classifications(t.get());
    // One class per group.
    const int *label = t->classifications;
    for (int g = 0; g < 3; g++)
      for (int x = 2; x <= GROUP_SIZE; x++) EXPECT_EQ(label[GROUP_SIZE * g + x], label[GROUP_SIZE * g + 1]) << kind;
    EXPECT_NE(label[1], label[GROUP_SIZE + 1]);
    EXPECT_NE(label[1], label[2 * GROUP_SIZE + 1]);
    EXPECT_NE(label[GROUP_SIZE + 1], label[2 * GROUP_SIZE + 1]);
  }
}

TEST(Annealing, APushLostInRoundingDoesNotHoldTheRunForever) {
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
}

TEST(Annealing, APairThatPushesCannotPartEndsTheRunAtTheFinalTemperature) {
  // Four points along a line of slope 1e-12 near x = 1e9, a few units in the last place apart.
  // The push along that line rounds away in x and moves y by 1e-12 of what parting the twins
  // needs, so they would be pushed for ever; the run stops pushing them 1000 stages after the
  // temperature is down.
  scratch_dir dir;
  run_result r = run_input(dir, "rows 4 cols 2 num_clusters 2 algorithm em_annealing output_model 1 begin x "
                                "1000000000.0 0.0 1000000000.0000001 1.1920928955078125e-19 "
                                "1000000000.0000002 2.384185791015625e-19 1000000000.0000004 3.5762786865234377e-19");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.read("labels.txt"), "1\n1\n1\n1\n");
}
