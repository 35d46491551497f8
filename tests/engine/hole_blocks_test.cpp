#include "engine/hole_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "nr/nr_factor.h"
#include "nr/one_based.h"

using namespace mogem::detail;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

hole_pattern pattern_of(std::vector<int> observed, std::vector<int> missing) {
  return hole_pattern{std::move(observed), std::move(missing), {}};
}

}  // namespace

TEST(HoleBlocks, WorkedPatterns) {
  pattern_factor f;  // reused from the larger pattern to the smaller, as the engine keeps one
  double scratch[4], filled[2];

  // Sigma = [[4,2,0,1],[2,3,0,0],[0,0,2,1],[1,0,1,3]], features 2 and 4 observed, 1 and 3
  // missing. Sigma_oo = 3 I, so Sigma_oo^-1 = I / 3 and ln det = ln 9; Sigma_mo = [[2,1],[0,1]]
  // (rows: features 1, 3), so regression = Sigma_mo / 3 = [[2/3,1/3],[0,1/3]];
  // conditional = Sigma_mm - Sigma_mo Sigma_om / 3 = [[4,0],[0,2]] - [[5,1],[1,1]] / 3
  // = [[7/3,-1/3],[-1/3,5/3]]. Row (NaN,5,NaN,6), mean (1,2,5,4): x_o - mu_o = (3,2), distance
  // (9 + 4) / 3 = 13/3; filled 1 + (2 + 2/3) = 11/3 and 5 + (0 + 2/3) = 17/3.
  {
    const double sigma[16] = {4, 2, 0, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 0, 1, 3};
    const double row[5] = {0, NaN, 5, NaN, 6}, mean[5] = {0, 1, 2, 5, 4};  // one-based: [0] unused
    const hole_pattern p = pattern_of({2, 4}, {1, 3});
    ASSERT_TRUE(factor_pattern(sigma, 4, p, &f));
    EXPECT_DOUBLE_EQ(f.log_det, std::log(9.0));
    const double regression[4] = {2.0 / 3, 1.0 / 3, 0, 1.0 / 3}, conditional[4] = {7.0 / 3, -1.0 / 3, -1.0 / 3, 5.0 / 3};
    for (int e = 0; e < 4; e++) EXPECT_NEAR(f.regression[e], regression[e], 1e-15) << e;
    for (int e = 0; e < 4; e++) EXPECT_NEAR(f.conditional[e], conditional[e], 1e-15) << e;
    EXPECT_EQ(f.conditional[1], f.conditional[2]);
    EXPECT_NEAR(observed_distance(f, row, mean, p, scratch), 13.0 / 3, 1e-14);
    conditional_mean(f, row, mean, p, filled, scratch);
    EXPECT_NEAR(filled[0], 11.0 / 3, 1e-15);
    EXPECT_NEAR(filled[1], 17.0 / 3, 1e-15);
  }

  // Sigma = [[4,2,2],[2,3,1],[2,1,2]] (det 8) as plane 2 of the engine's tensor, passed in place;
  // feature 2 missing. Sigma_oo = [[4,2],[2,2]], det 4, inverse [[2,-2],[-2,4]] / 4; Sigma_mo =
  // [2,1], so regression = [4-2, -4+4] / 4 = [1/2, 0] and conditional = 3 - (1/2) 2 = 2 (and
  // det Sigma_oo x conditional = 8 = det Sigma). Row (3,NaN,0), mean (1,2,3): x_o - mu_o =
  // (2,-3), distance (2*2^2 + 2*(-2)*2*(-3) + 4*(-3)^2) / 4 = 68/4 = 17; filled 2 + (1/2) 2 = 3.
  {
    one_based_tensor covariances(3, 3, 3);
    const double sigma[3][3] = {{4, 2, 2}, {2, 3, 1}, {2, 1, 2}};
    for (int r = 1; r <= 3; r++)
      for (int c = 1; c <= 3; c++) covariances[2][r][c] = sigma[r - 1][c - 1];
    const double row[4] = {0, 3, NaN, 0}, mean[4] = {0, 1, 2, 3};
    const hole_pattern p = pattern_of({1, 3}, {2});
    ASSERT_TRUE(factor_pattern(&covariances[2][1][1], 3, p, &f));
    EXPECT_DOUBLE_EQ(f.log_det, std::log(4 * 2 - 2 * 2));
    ASSERT_EQ(f.regression.size(), 2u);
    EXPECT_NEAR(f.regression[0], 0.5, 1e-15);
    EXPECT_NEAR(f.regression[1], 0.0, 1e-15);
    ASSERT_EQ(f.conditional.size(), 1u);
    EXPECT_NEAR(f.conditional[0], 2.0, 1e-15);
    EXPECT_NEAR(observed_distance(f, row, mean, p, scratch), 17.0, 1e-14);
    conditional_mean(f, row, mean, p, filled, scratch);
    EXPECT_NEAR(filled[0], 3.0, 1e-15);
  }
}

TEST(HoleBlocks, OnlyTheObservedBlockMustBePositiveDefinite) {
  // [[1,2,0],[2,1,0],[0,0,1]] is indefinite, and so is its block on features 1 and 2 (det -3);
  // its block on features 1 and 3 is the identity.
  const double sigma[9] = {1, 2, 0, 2, 1, 0, 0, 0, 1};
  pattern_factor f;
  EXPECT_FALSE(factor_pattern(sigma, 3, pattern_of({1, 2}, {3}), &f));
  EXPECT_TRUE(factor_pattern(sigma, 3, pattern_of({1, 3}, {2}), &f));
  EXPECT_EQ(f.log_det, 0.0);
  const double with_nan[4] = {1, 0, 0, NaN};
  EXPECT_FALSE(factor_pattern(with_nan, 2, pattern_of({1, 2}, {}), &f));
  // Nothing observed: the conditional law is the class's own.
  EXPECT_TRUE(factor_pattern(sigma, 3, pattern_of({}, {1, 2, 3}), &f));
  EXPECT_EQ(f.conditional, std::vector<double>(sigma, sigma + 9));
}

TEST(HoleBlocks, NothingMissingGivesTheFullCholeskyDistance) {
  // A 5 x 5 covariance A = B B^T + I, against the numeric library's own factor and solve:
  // distance = d^T A^-1 d, ln det = sum of ln p_i^2.
  const int F = 5;
  one_based_matrix a(F, F);
  std::vector<double> sigma(F * F);
  for (int r = 1; r <= F; r++)
    for (int c = 1; c <= F; c++) {
      double s = r == c ? 1.0 : 0.0;
      for (int t = 1; t <= F; t++) s += std::sin(r * 7.0 + t) * std::sin(c * 7.0 + t);
      a[r][c] = sigma[(r - 1) * F + (c - 1)] = s;
    }
  one_based_vector<double> p(F), d(F), x(F);
  NR_dcholdc(a.get(), F, p.get());
  const double row[F + 1] = {0, 1.5, -2.0, 0.25, 3.0, -1.0}, mean[F + 1] = {0, 0.5, 0.5, 0.5, 0.5, 0.5};
  double expected = 0.0, expected_log_det = 0.0;
  for (int j = 1; j <= F; j++) d[j] = row[j] - mean[j];
  NR_dcholsl(a.get(), F, p.get(), d.get(), x.get());
  for (int j = 1; j <= F; j++) expected += d[j] * x[j], expected_log_det += 2 * std::log(p[j]);

  pattern_factor f;
  const hole_pattern all = pattern_of({1, 2, 3, 4, 5}, {});
  ASSERT_TRUE(factor_pattern(sigma.data(), F, all, &f));
  double scratch[F];
  EXPECT_NEAR(observed_distance(f, row, mean, all, scratch), expected, 1e-12 * expected);
  EXPECT_NEAR(f.log_det, expected_log_det, 1e-13);
  EXPECT_TRUE(f.regression.empty());
  EXPECT_TRUE(f.conditional.empty());
}

TEST(HoleBlocks, PatternsAreNumberedByFirstAppearance) {
  const double inf = std::numeric_limits<double>::infinity();
  const double rows[5][3] = {{1, 2, 3}, {NaN, 2, 3}, {1, NaN, inf}, {NaN, 5, 6}, {NaN, NaN, NaN}};
  const hole_patterns found = find_hole_patterns(&rows[0][0], 5, 3);
  ASSERT_EQ(found.patterns.size(), 4u);
  EXPECT_EQ(found.pattern_of_row, (std::vector<int>{0, 1, 2, 1, 3}));
  EXPECT_EQ(found.patterns[0].observed, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(found.patterns[0].missing.empty());
  EXPECT_EQ(found.patterns[1].missing, (std::vector<int>{1}));
  EXPECT_EQ(found.patterns[1].rows, (std::vector<int>{2, 4}));
  EXPECT_EQ(found.patterns[2].observed, (std::vector<int>{1, 3}));  // an infinity is not a hole
  EXPECT_TRUE(found.patterns[3].observed.empty());
  EXPECT_EQ(found.patterns[3].rows, (std::vector<int>{5}));
}
