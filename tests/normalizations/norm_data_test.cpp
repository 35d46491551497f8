#include "normalizations/norm_data.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

namespace {

using rows_t = std::vector<std::vector<double>>;

// Normalizes the rows in place; returns what norm_data wrote on standard error.
std::string normalize(literal_matrix &m, const rows_t &rows, int type, double parm = 0.0) {
  const int n = static_cast<int>(rows.size()), f = static_cast<int>(rows[0].size());
  return capture([&] { norm_data(m.get(), n, f, type, parm); }).err;
}

const std::string log_refused = "Cannot take the log of a number <= 0.0\n";
const std::string base_refused = "Cannot transform to a log base <= 1.0\n";

}  // namespace

TEST(Normalization, EachKindOnHandWorkedRows) {
  const struct {
    int type;
    double parm;
    rows_t rows, expected;
    std::string err;
  } cases[] = {
      {EUCLIDEAN_NORM, 0, {{3, 4}, {0, -2}}, {{0.6, 0.8}, {0, -1}}, ""},
      {MEAN_NORM, 0, {{1, 10}, {2, 20}, {6, 60}}, {{-2, -20}, {-1, -10}, {3, 30}}, ""},
      {HYPERSPHERE_NORM, 0, {{1, 2}, {3, 2}}, {{-1, 0}, {1, 0}}, ""},  // centres, then scales
      // Column 1 has its maximum first and minimum last; column 2 is constant.
      {PER_FEATURE_NORM, 0, {{4, 7}, {2, 7}, {-4, 7}}, {{1, 0}, {0.75, 0}, {0, 0}}, ""},
      {LOG_TRANSFORM, 10, {{0, -5}, {10, 1}}, {{0, -5}, {1, 0}}, log_refused + log_refused},
      {LOG_TRANSFORM, 1, {{100, 0}}, {{100, 0}}, base_refused},
      // Kinds that change nothing (the PCA codes share NO_NORM's branch); unknown codes are reported.
      {NO_NORM, 0, {{1.5, -2}, {0, 3}}, {{1.5, -2}, {0, 3}}, ""},
      {ICA, 0, {{1.5, -2}}, {{1.5, -2}}, "ICA is not implemented\n"},
      {0, 0, {{1.5, -2}}, {{1.5, -2}}, "Unknown normalization method: 0\n"},
  };
  for (const auto &c : cases) {
    literal_matrix m(c.rows);
    EXPECT_EQ(normalize(m, c.rows, c.type, c.parm), c.err) << c.type;
    for (std::size_t i = 0; i < c.rows.size(); i++) EXPECT_EQ(m.row(i + 1), c.expected[i]) << c.type << " row " << i;
  }
}

TEST(Normalization, RoundedResults) {
  literal_matrix unit({{0.6, 0.8}, {0, 0}});
  EXPECT_EQ(normalize(unit, {{0.6, 0.8}, {0, 0}}, EUCLIDEAN_NORM), "");
  EXPECT_NEAR(unit[1][1], 0.6, 1e-16);
  EXPECT_NEAR(unit[1][2], 0.8, 1e-16);
  EXPECT_TRUE(std::isnan(unit[2][1]) && std::isnan(unit[2][2]));  // a zero row has no length
  literal_matrix logs({{100, 1000}});
  normalize(logs, {{100, 1000}}, LOG_TRANSFORM, 10.0);
  EXPECT_NEAR(logs[1][1], 2.0, 1e-15);
  EXPECT_NEAR(logs[1][2], 3.0, 1e-15);
}
