#include "nr/nr_eigen.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

using rows_t = std::vector<std::vector<double>>;

// Values in the order of the diagonal (unsorted), vectors[k] the column of values[k]. The
// diagonal and lower triangle are left alone (the lower one never read); the upper one ends zeroed.
TEST(Jacobi, DecomposesHandWorkedMatrices) {
  const double h = 1.0 / std::sqrt(2.0);
  const struct {
    rows_t a;
    std::vector<double> values;
    rows_t vectors;
    int rotations;
    double tolerance;
  } cases[] = {
      {{{3, 0, 0}, {0, -1, 0}, {0, 0, 2}}, {3, -1, 2}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 0, 0.0},
      {{{2, 1}, {1, 2}}, {1, 3}, {{h, -h}, {h, h}}, 1, 1e-15},
      {{{2, 1}, {-50, 2}}, {1, 3}, {{h, -h}, {h, h}}, 1, 1e-15},
      // A repeated eigenvalue, 2, along e1 and (0, 1, -1) / sqrt 2.
      {{{2, 0, 0}, {0, 3, 1}, {0, 1, 3}}, {2, 2, 4}, {{1, 0, 0}, {0, h, -h}, {0, h, h}}, 1, 1e-15},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a));
    const int n = static_cast<int>(c.a.size());
    literal_matrix a(c.a), v(n, n, -7.0);
    literal_vector d(std::vector<double>(n, -7.0));
    int rotations = -1;
    NR_djacobi(a.get(), n, d.get(), v.get(), &rotations);
    EXPECT_EQ(rotations, c.rotations);
    for (int k = 1; k <= n; k++) {
      EXPECT_NEAR(d.get()[k], c.values[k - 1], c.tolerance) << "d[" << k << "]";
      for (int j = 1; j <= n; j++) {
        EXPECT_NEAR(v[j][k], c.vectors[k - 1][j - 1], c.tolerance) << "v[" << j << "][" << k << "]";
        EXPECT_EQ(a[j][k], j >= k ? c.a[j - 1][k - 1] : 0.0) << "a[" << j << "][" << k << "]";
      }
    }
  }
}

TEST(Jacobi, NaNOffTheDiagonalNeverConverges) {
  literal_matrix a({{1, std::nan("")}, {0, 1}}), v(2, 2, 0.0);
  literal_vector d({0, 0});
  int rotations = -1;
  call_outcome out = capture([&] { NR_djacobi(a.get(), 2, d.get(), v.get(), &rotations); });
  EXPECT_EQ(out.exit_code, 1);
  EXPECT_EQ(out.err, nr_error_text("Too many iterations in routine NR_djacobi"));
}
