#include "engine/em_da_pc.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/one_based.h"
#include "support/test_model.h"

using namespace mogem::detail;

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
    literal_matrix rows(c.rows), cov(2, 2, -7.0);
    literal_vector mean(c.mean), weights(c.weights);
    est_weighted_covar(cov.get(), rows.get(), mean.get(), weights.get(), static_cast<int>(c.rows.size()), 2);
    EXPECT_EQ(cov.row(1), c.expected[0]);
    EXPECT_EQ(cov.row(2), c.expected[1]);
  }
  literal_matrix rows(three);
  literal_vector column_means({-7, -7});
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
  literal_matrix v(2, 2, -7.0);
  compute_pc(1, 2, t.get(), v.get());
  const double sign = v[1][1] > 0 ? 1.0 : -1.0;
  EXPECT_NEAR(sign * v[1][1], 1 / std::sqrt(5.0), 2e-3);
  EXPECT_NEAR(sign * v[2][1], 2 / std::sqrt(5.0), 2e-3);
  EXPECT_NEAR(v[1][1] * v[1][1] + v[2][1] * v[2][1], 1.0, 1e-14);
}
