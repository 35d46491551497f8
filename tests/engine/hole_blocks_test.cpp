#include "engine/hole_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "nr/one_based.h"

using namespace mogem::detail;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// A covariance, a pattern, a row and a mean (one-based: [0] unused), and what they give.
struct worked_case {
  int F;
  std::vector<double> sigma;
  std::vector<int> observed, missing;
  std::vector<double> row, mean;
  double det, distance;
  std::vector<double> regression, conditional, filled;
};

}  // namespace

TEST(HoleBlocks, WorkedPatterns) {
  const std::vector<double> sigma3 = {4, 2, 2, 2, 3, 1, 2, 1, 2};
  const worked_case cases[] = {
      // Sigma3 = [[4,2,2],[2,3,1],[2,1,2]], feature 2 missing. Sigma_oo = [[4,2],[2,2]], det 4,
      // inverse [[2,-2],[-2,4]] / 4; Sigma_mo = [2,1], so regression = [4-2, -4+4] / 4 = [1/2, 0],
      // conditional = 3 - (1/2) 2 = 2 (det Sigma_oo x 2 = 8 = det Sigma3). x_o - mu_o = (2,-3):
      // distance (2*4 + 2*(-2)*2*(-3) + 4*9) / 4 = 17; filled 2 + (1/2) 2 = 3.
      {3, sigma3, {1, 3}, {2}, {0, 3, NaN, 0}, {0, 1, 2, 3}, 4, 17, {0.5, 0}, {2}, {3}},
      // Sigma3 without holes: Sigma3^-1 = adj / 8 with adj = [[5,-2,-4],[-2,4,0],[-4,0,8]];
      // d = (2,-1,1): d^T adj d = 20 + 4 + 8 + 2*(-2)*2*(-1) + 2*(-4)*2*1 = 24, distance 3.
      {3, sigma3, {1, 2, 3}, {}, {0, 3, 1, 4}, {0, 1, 2, 3}, 8, 3, {}, {}, {}},
      // [[4,2,0,1],[2,3,0,0],[0,0,2,1],[1,0,1,3]], features 1 and 3 missing: Sigma_oo = 3 I (det
      // 9); Sigma_mo = [[2,1],[0,1]], regression = Sigma_mo / 3; conditional = [[4,0],[0,2]] -
      // Sigma_mo Sigma_om / 3 = [[4,0],[0,2]] - [[5,1],[1,1]] / 3. x_o - mu_o = (3,2): distance
      // 13/3; filled 1 + (2 + 2/3) and 5 + (0 + 2/3).
      {4, {4, 2, 0, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 0, 1, 3}, {2, 4}, {1, 3}, {0, NaN, 5, NaN, 6}, {0, 1, 2, 5, 4},
       9, 13.0 / 3, {2.0 / 3, 1.0 / 3, 0, 1.0 / 3}, {7.0 / 3, -1.0 / 3, -1.0 / 3, 5.0 / 3}, {11.0 / 3, 17.0 / 3}},
  };
  pattern_factor f;  // reused from case to case, as the engine keeps one
  for (const worked_case &c : cases) {
    SCOPED_TRACE(c.F * 10 + static_cast<int>(c.missing.size()));
    // The covariance as plane 2 of the engine's tensor, passed in place.
    one_based_tensor covariances(2, c.F, c.F);
    for (int r = 1; r <= c.F; r++)
      for (int col = 1; col <= c.F; col++) covariances[2][r][col] = c.sigma[(r - 1) * c.F + col - 1];
    const hole_pattern p{c.observed, c.missing, {}};
    ASSERT_TRUE(factor_pattern(&covariances[2][1][1], c.F, p, &f));
    EXPECT_NEAR(f.log_det, std::log(c.det), 1e-15);
    ASSERT_EQ(f.regression.size(), c.regression.size());
    for (std::size_t e = 0; e < c.regression.size(); e++) EXPECT_NEAR(f.regression[e], c.regression[e], 1e-15);
    ASSERT_EQ(f.conditional.size(), c.conditional.size());
    for (std::size_t e = 0; e < c.conditional.size(); e++) EXPECT_NEAR(f.conditional[e], c.conditional[e], 1e-15);
    double scratch[4], filled[2];
    EXPECT_NEAR(observed_distance(f, c.row.data(), c.mean.data(), p, scratch), c.distance, 1e-14);
    conditional_mean(f, c.row.data(), c.mean.data(), p, filled, scratch);
    for (std::size_t a = 0; a < c.filled.size(); a++) EXPECT_NEAR(filled[a], c.filled[a], 1e-15);
  }
  EXPECT_EQ(f.conditional[1], f.conditional[2]);  // exactly symmetric
}

TEST(HoleBlocks, OnlyTheObservedBlockMustBePositiveDefinite) {
  // [[1,2,0],[2,1,0],[0,0,1]] is indefinite, and so is its block on features 1 and 2 (det -3);
  // its block on features 1 and 3 is the identity.
  const double sigma[9] = {1, 2, 0, 2, 1, 0, 0, 0, 1}, with_nan[4] = {1, 0, 0, NaN};
  pattern_factor f;
  EXPECT_FALSE(factor_pattern(sigma, 3, {{1, 2}, {3}, {}}, &f));
  EXPECT_FALSE(factor_pattern(with_nan, 2, {{1, 2}, {}, {}}, &f));
  EXPECT_TRUE(factor_pattern(sigma, 3, {{1, 3}, {2}, {}}, &f));
  EXPECT_EQ(f.log_det, 0.0);
  // Nothing observed: the conditional law is the class's own.
  EXPECT_TRUE(factor_pattern(sigma, 3, {{}, {1, 2, 3}, {}}, &f));
  EXPECT_EQ(f.conditional, std::vector<double>(sigma, sigma + 9));
}

TEST(HoleBlocks, PatternsAreNumberedByFirstAppearance) {
  const double inf = std::numeric_limits<double>::infinity();
  const double rows[5][3] = {{1, 2, 3}, {NaN, 2, 3}, {1, NaN, inf}, {NaN, 5, 6}, {NaN, NaN, NaN}};
  const hole_patterns found = find_hole_patterns(&rows[0][0], 5, 3);
  ASSERT_EQ(found.patterns.size(), 4u);
  EXPECT_EQ(found.pattern_of_row, (std::vector<int>{0, 1, 2, 1, 3}));
  EXPECT_EQ(found.patterns[0].observed, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(found.patterns[1].missing, (std::vector<int>{1}));
  EXPECT_EQ(found.patterns[1].rows, (std::vector<int>{2, 4}));
  EXPECT_EQ(found.patterns[2].observed, (std::vector<int>{1, 3}));  // an infinity is not a hole
  EXPECT_TRUE(found.patterns[3].observed.empty());
}

TEST(HoleBlocks, RowsInBlocksGiveTheRowByRowBits) {
  // 11 rows (a full block and a short one) of 16 features under a dense covariance, with an
  // even and an odd number of features observed.
  const int F = 16, N = 11;
  std::vector<double> sigma(F * F), values(N * (F + 1)), mean(F + 1);
  std::vector<const double *> rows(N + 1);
  std::vector<int> numbers(N);
  for (int r = 0; r < F; r++)
    for (int c = 0; c < F; c++) sigma[r * F + c] = (r == c ? F : 0) + std::cos(r - c) + 0.5;
  for (std::size_t e = 0; e < values.size(); e++) values[e] = std::sin(e * 1.7);
  for (int i = 1; i <= N; i++) rows[i] = &values[(i - 1) * (F + 1)], numbers[i - 1] = N + 1 - i;
  for (int j = 1; j <= F; j++) mean[j] = 0.1 * j;
  for (const std::vector<int> &missing : {std::vector<int>{4, 11}, std::vector<int>{1, 8, 16}}) {
    hole_pattern p{{}, missing, {}};
    for (int j = 1; j <= F; j++)
      if (std::find(missing.begin(), missing.end(), j) == missing.end()) p.observed.push_back(j);
    pattern_factor f;
    ASSERT_TRUE(factor_pattern(sigma.data(), F, p, &f));
    std::vector<double> out(N), scratch(HOLE_BLOCK * F);
    observed_distances(f, rows.data(), numbers.data(), N, mean.data(), p, out.data(), scratch.data());
    for (int r = 0; r < N; r++)
      EXPECT_EQ(out[r], observed_distance(f, rows[numbers[r]], mean.data(), p, scratch.data())) << missing.size() << " " << r;
  }
}
