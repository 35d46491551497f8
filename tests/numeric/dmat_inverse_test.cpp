#include "numeric/dmat_inverse.h"

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

using rows_t = std::vector<std::vector<double>>;

TEST(SymmetricInverse, InvertsKnownMatricesAndLeavesTheInputAlone) {
  const struct {
    rows_t a, inverse;
  } cases[] = {
      {{{4, 2}, {2, 3}}, {{0.375, -0.25}, {-0.25, 0.5}}},
      {{{4, 2}, {-100, 3}}, {{0.375, -0.25}, {-0.25, 0.5}}},  // only the upper triangle is read
      {{{2, -1, 0}, {-1, 2, -1}, {0, -1, 2}}, {{0.75, 0.5, 0.25}, {0.5, 1.0, 0.5}, {0.25, 0.5, 0.75}}},
      {{{0.5}}, {{2.0}}},
  };
  for (const auto &c : cases) {
    const int n = static_cast<int>(c.a.size());
    literal_matrix a(c.a), inv(n, n, -7.0);
    EXPECT_EQ(invert_copy_alloc_sym_dmat(a.get(), n, inv.get()), 0);
    for (int r = 1; r <= n; r++) {
      EXPECT_EQ(a.row(r), c.a[r - 1]);
      for (int s = 1; s <= n; s++) EXPECT_NEAR(inv[r][s], c.inverse[r - 1][s - 1], 1e-15) << n << ":" << r << s;
    }
  }
}

TEST(SymmetricInverse, NotPositiveDefiniteEndsTheRun) {
  for (const rows_t &rows : {rows_t{{1, 2}, {2, 1}}, rows_t{{1, 1}, {1, 1}}, rows_t{{0, 0}, {0, 0}}}) {
    literal_matrix a(rows), inv(2, 2, 0.0);
    call_outcome out = capture([&] { invert_copy_alloc_sym_dmat(a.get(), 2, inv.get()); });
    EXPECT_EQ(out.exit_code, 1);
    EXPECT_EQ(out.err, nr_error_text("NR_dcholdc failed"));
  }
}

TEST(Determinant, PivotsAndSignsAsWorkedByHand) {
  const struct {
    rows_t a;
    double det, tolerance = 0;
  } cases[] = {
      {{{4, 2}, {2, 3}}, 8.0},
      {{{0, 1}, {1, 0}}, -1.0},
      // Equal scaled pivots: the later row wins, the exchange flips the sign, and the zero
      // pivot that remains counts as 1e-20.
      {{{1, 2}, {2, 4}}, -2.0e-20},
      {{{1, 1}, {1, 1}}, -1.0e-20},
      {{{1, 2, 3}, {4, 5, 6}, {7, 8, 10}}, -3.0, 1e-13},  // one exchange
  };
  for (const auto &c : cases) {
    literal_matrix a(c.a);
    EXPECT_NEAR(det_copy_alloc_dmat(a.get(), static_cast<int>(c.a.size())), c.det, c.tolerance);
    EXPECT_EQ(a.row(1), c.a[0]);
  }
  literal_matrix zero_row({{1, 2}, {0, 0}});
  call_outcome out = capture([&] { det_copy_alloc_dmat(zero_row.get(), 2); });
  EXPECT_EQ(out.exit_code, 1);
  EXPECT_EQ(out.err, nr_error_text("Singular matrix in routine NR_dludcmp"));
}
