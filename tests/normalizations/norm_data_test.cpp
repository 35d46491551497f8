#include "normalizations/norm_data.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

namespace {

using rows_t = std::vector<std::vector<double>>;

// Runs norm_data on a copy of the rows; returns what it wrote on standard error.
std::string normalize(one_based_matrix &m, int rows, int cols, int type, double parm = 0.0) {
  return capture([&] { norm_data(m.get(), rows, cols, type, parm); }).err;
}

}  // namespace

TEST(Normalization, EuclideanNormScalesRowsToUnitLength) {
  one_based_matrix m({{3, 4}, {0.6, 0.8}, {0, -2}});
  EXPECT_EQ(normalize(m, 3, 2, EUCLIDEAN_NORM), "");
  EXPECT_EQ(m.row(1), (std::vector<double>{0.6, 0.8}));
  EXPECT_NEAR(m[2][1], 0.6, 1e-16);
  EXPECT_NEAR(m[2][2], 0.8, 1e-16);
  EXPECT_EQ(m.row(3), (std::vector<double>{0, -1}));
}

TEST(Normalization, EuclideanNormOfAZeroRowIsNotANumber) {
  one_based_matrix m({{0, 0}, {2, 0}});
  EXPECT_EQ(normalize(m, 2, 2, EUCLIDEAN_NORM), "");
  EXPECT_TRUE(std::isnan(m[1][1]) && std::isnan(m[1][2]));
  EXPECT_EQ(m.row(2), (std::vector<double>{1, 0}));
}

TEST(Normalization, MeanNormCentresEveryColumn) {
  one_based_matrix m({{1, 10}, {2, 20}, {6, 60}});
  normalize(m, 3, 2, MEAN_NORM);
  EXPECT_EQ(m.row(1), (std::vector<double>{-2, -20}));
  EXPECT_EQ(m.row(2), (std::vector<double>{-1, -10}));
  EXPECT_EQ(m.row(3), (std::vector<double>{3, 30}));

  one_based_matrix single({{5, -7}});
  normalize(single, 1, 2, MEAN_NORM);
  EXPECT_EQ(single.row(1), (std::vector<double>{0, 0}));
}

TEST(Normalization, HypersphereCentresThenScales) {
  one_based_matrix m({{1, 2}, {3, 2}});
  normalize(m, 2, 2, HYPERSPHERE_NORM);
  EXPECT_EQ(m.row(1), (std::vector<double>{-1, 0}));
  EXPECT_EQ(m.row(2), (std::vector<double>{1, 0}));
}

TEST(Normalization, PerFeatureMapsEachColumnOntoZeroToOne) {
  // Column 1 has its maximum first and minimum last; column 2 is constant.
  one_based_matrix m({{4, 7}, {2, 7}, {-4, 7}});
  normalize(m, 3, 2, PER_FEATURE_NORM);
  EXPECT_EQ(m.row(1), (std::vector<double>{1, 0}));
  EXPECT_EQ(m.row(2), (std::vector<double>{0.75, 0}));
  EXPECT_EQ(m.row(3), (std::vector<double>{0, 0}));

  one_based_matrix single({{3, -1}});
  normalize(single, 1, 2, PER_FEATURE_NORM);
  EXPECT_EQ(single.row(1), (std::vector<double>{0, 0}));
}

TEST(Normalization, LogTransformRefusesWhatHasNoLogarithm) {
  one_based_matrix m({{100, 1}, {0, -5}, {10, 1000}});
  std::string err = normalize(m, 3, 2, LOG_TRANSFORM, 10.0);
  EXPECT_EQ(err, "Cannot take the log of a number <= 0.0\nCannot take the log of a number <= 0.0\n");
  EXPECT_NEAR(m[1][1], 2.0, 1e-15);
  EXPECT_EQ(m[1][2], 0.0);
  EXPECT_EQ(m.row(2), (std::vector<double>{0, -5}));
  EXPECT_EQ(m[3][1], 1.0);
  EXPECT_NEAR(m[3][2], 3.0, 1e-15);

  for (double base : {1.0, 0.5, -2.0}) {
    one_based_matrix same({{100, 0}});
    EXPECT_EQ(normalize(same, 1, 2, LOG_TRANSFORM, base), "Cannot transform to a log base <= 1.0\n") << base;
    EXPECT_EQ(same.row(1), (std::vector<double>{100, 0}));
  }
}

TEST(Normalization, KindsThatChangeNothing) {
  const rows_t rows = {{1.5, -2}, {0, 3}};
  for (int type : {int{NO_NORM}, int{PCA_VAR}, int{PCA_DIM}, int{ICA}, 0, 10, -3}) {
    one_based_matrix m(rows);
    std::string err = normalize(m, 2, 2, type);
    EXPECT_EQ(m.row(1), rows[0]) << type;
    EXPECT_EQ(m.row(2), rows[1]) << type;
    if (type == ICA)
      EXPECT_EQ(err, "ICA is not implemented\n");
    else if (type >= NO_NORM && type <= ICA)
      EXPECT_EQ(err, "") << type;
    else
      EXPECT_EQ(err, "Unknown normalization method: " + std::to_string(type) + "\n");
  }
}
