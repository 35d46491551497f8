#include "nr/nr_eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

namespace {

using rows_t = std::vector<std::vector<double>>;

struct decomposition {
  std::vector<double> values;
  rows_t vectors;  // vectors[k] is column k + 1
  int rotations;
};

decomposition decompose(literal_matrix &a, int n) {
  literal_matrix v(n, n, -7.0);
  literal_vector d(std::vector<double>(n, -7.0));
  int nrot = -1;
  NR_djacobi(a.get(), n, d.get(), v.get(), &nrot);
  decomposition out{std::vector<double>(d.get() + 1, d.get() + 1 + n), rows_t(n), nrot};
  for (int k = 1; k <= n; k++)
    for (int j = 1; j <= n; j++) out.vectors[k - 1].push_back(v[j][k]);
  return out;
}

}  // namespace

TEST(Jacobi, DiagonalMatricesNeedNoRotation) {
  literal_matrix a({{3, 0, 0}, {0, -1, 0}, {0, 0, 2}});
  decomposition r = decompose(a, 3);
  EXPECT_EQ(r.values, (std::vector<double>{3, -1, 2}));  // unsorted: in diagonal order
  EXPECT_EQ(r.rotations, 0);
  EXPECT_EQ(r.vectors, (rows_t{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
}

TEST(Jacobi, OneRotationForATwoByTwo) {
  // [[2, 1], [1, 2]]: eigenvalue 1 along (1, -1)/sqrt 2, eigenvalue 3 along (1, 1)/sqrt 2.
  literal_matrix a({{2, 1}, {1, 2}});
  decomposition r = decompose(a, 2);
  EXPECT_EQ(r.rotations, 1);
  const double h = 1.0 / std::sqrt(2.0);
  const double expected[2][3] = {{1, h, -h}, {3, h, h}};  // value, then its vector
  for (int k = 0; k < 2; k++) {
    EXPECT_NEAR(r.values[k], expected[k][0], 1e-15);
    EXPECT_NEAR(r.vectors[k][0], expected[k][1], 1e-15);
    EXPECT_NEAR(r.vectors[k][1], expected[k][2], 1e-15);
  }
  EXPECT_EQ(a[2][1], 1.0);  // the lower triangle is left alone
  EXPECT_EQ(a[1][2], 0.0);  // the upper one is used up

  // A lower triangle that disagrees is never read.
  literal_matrix skew({{2, 1}, {-50, 2}});
  decomposition same = decompose(skew, 2);
  EXPECT_EQ(same.values, r.values);
  EXPECT_EQ(same.vectors, r.vectors);
}

TEST(Jacobi, RepeatedEigenvalueKeepsAnOrthonormalBasis) {
  // Eigenvalues 2, 2 (e1 and (0, 1, -1)/sqrt 2) and 4 ((0, 1, 1)/sqrt 2).
  const rows_t A = {{2, 0, 0}, {0, 3, 1}, {0, 1, 3}};
  literal_matrix a(A);
  decomposition r = decompose(a, 3);
  std::vector<double> sorted = r.values;
  std::sort(sorted.begin(), sorted.end());
  for (int k = 0; k < 3; k++) EXPECT_NEAR(sorted[k], (std::vector<double>{2, 2, 4})[k], 1e-14);
  for (int k = 0; k < 3; k++) {
    // A v = lambda v, and the columns are orthonormal.
    for (int row = 0; row < 3; row++) {
      double Av = 0;
      for (int c = 0; c < 3; c++) Av += A[row][c] * r.vectors[k][c];
      EXPECT_NEAR(Av, r.values[k] * r.vectors[k][row], 1e-14);
    }
    for (int l = 0; l < 3; l++) {
      double dot = 0;
      for (int c = 0; c < 3; c++) dot += r.vectors[k][c] * r.vectors[l][c];
      EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-14);
    }
  }
}

TEST(Jacobi, NaNOffTheDiagonalNeverConverges) {
  literal_matrix a({{1, std::nan("")}, {0, 1}});
  call_outcome out = capture([&] { decompose(a, 2); });
  EXPECT_EQ(out.exit_code, 1);
  EXPECT_EQ(out.err, nr_error_text("Too many iterations in routine NR_djacobi"));
}
