#include "numeric/dmat_inverse.h"

#include <gtest/gtest.h>

#include "numeric/dvec_ops.h"
#include "support/capture.h"
#include "support/one_based.h"

namespace {

const char *const cholesky_failure =
    "Numerical Recipes run-time error...\nNR_dcholdc failed\n...now exiting to system...\n";
const char *const lu_failure =
    "Numerical Recipes run-time error...\nSingular matrix in routine NR_dludcmp\n...now exiting to system...\n";

}  // namespace

TEST(SymmetricInverse, InvertsKnownMatricesAndLeavesTheInputAlone) {
  one_based_matrix a({{4, 2}, {2, 3}});
  one_based_matrix inv(2, 2, -7.0);
  EXPECT_EQ(invert_copy_alloc_sym_dmat(a.get(), 2, inv.get()), 0);
  EXPECT_DOUBLE_EQ(inv[1][1], 0.375);
  EXPECT_DOUBLE_EQ(inv[1][2], -0.25);
  EXPECT_DOUBLE_EQ(inv[2][1], -0.25);
  EXPECT_DOUBLE_EQ(inv[2][2], 0.5);
  EXPECT_EQ(a.row(2), (std::vector<double>{2, 3}));

  // A 3x3 with a worked inverse: [[2,-1,0],[-1,2,-1],[0,-1,2]]^-1 = [[3,2,1],[2,4,2],[1,2,3]]/4.
  one_based_matrix b({{2, -1, 0}, {-1, 2, -1}, {0, -1, 2}});
  one_based_matrix binv(3, 3, -7.0);
  invert_copy_alloc_sym_dmat(b.get(), 3, binv.get());
  const double expected[3][3] = {{0.75, 0.5, 0.25}, {0.5, 1.0, 0.5}, {0.25, 0.5, 0.75}};
  for (int r = 1; r <= 3; r++)
    for (int s = 1; s <= 3; s++) EXPECT_NEAR(binv[r][s], expected[r - 1][s - 1], 1e-15) << r << "," << s;

  one_based_matrix single(std::vector<std::vector<double>>{{0.5}});
  one_based_matrix single_inv(1, 1, -7.0);
  invert_copy_alloc_sym_dmat(single.get(), 1, single_inv.get());
  EXPECT_EQ(single_inv[1][1], 2.0);
}

TEST(SymmetricInverse, ReadsOnlyTheUpperTriangle) {
  one_based_matrix clean({{4, 2}, {2, 3}}), dirty({{4, 2}, {-100, 3}});
  one_based_matrix clean_inv(2, 2, 0.0), dirty_inv(2, 2, 0.0);
  invert_copy_alloc_sym_dmat(clean.get(), 2, clean_inv.get());
  invert_copy_alloc_sym_dmat(dirty.get(), 2, dirty_inv.get());
  EXPECT_EQ(clean_inv.row(1), dirty_inv.row(1));
  EXPECT_EQ(clean_inv.row(2), dirty_inv.row(2));

  // The in-place form leaves the Cholesky factor below the diagonal: L = [[2,0],[1,sqrt 2]].
  invert_alloc_sym_dmat(dirty.get(), 2, dirty_inv.get());
  EXPECT_EQ(dirty[2][1], 1.0);
  EXPECT_EQ(dirty.row(1), (std::vector<double>{4, 2}));
}

TEST(SymmetricInverse, NotPositiveDefiniteEndsTheRun) {
  for (const auto &rows : {std::vector<std::vector<double>>{{1, 2}, {2, 1}}, {{1, 1}, {1, 1}}, {{0, 0}, {0, 0}}}) {
    one_based_matrix a(rows);
    one_based_matrix inv(2, 2, 0.0);
    call_outcome out = capture([&] { invert_copy_alloc_sym_dmat(a.get(), 2, inv.get()); });
    EXPECT_EQ(out.exit_code, 1);
    EXPECT_EQ(out.err, cholesky_failure);
  }
}

TEST(Determinant, PivotsAndSignsAsWorkedByHand) {
  one_based_matrix a({{4, 2}, {2, 3}});
  EXPECT_DOUBLE_EQ(det_copy_alloc_dmat(a.get(), 2), 8.0);
  EXPECT_EQ(a.row(1), (std::vector<double>{4, 2}));

  one_based_matrix swap({{0, 1}, {1, 0}});
  EXPECT_EQ(det_copy_alloc_dmat(swap.get(), 2), -1.0);

  // Equal scaled pivots: the later row wins, the exchange flips the sign, and the zero pivot
  // that remains counts as 1e-20.
  one_based_matrix dependent({{1, 2}, {2, 4}});
  EXPECT_EQ(det_copy_alloc_dmat(dependent.get(), 2), -2.0e-20);
  one_based_matrix ones({{1, 1}, {1, 1}});
  EXPECT_EQ(det_copy_alloc_dmat(ones.get(), 2), -1.0e-20);

  // 3x3 with one exchange: det [[1,2,3],[4,5,6],[7,8,10]] = -3.
  one_based_matrix three({{1, 2, 3}, {4, 5, 6}, {7, 8, 10}});
  EXPECT_NEAR(det_copy_alloc_dmat(three.get(), 3), -3.0, 1e-13);

  // The in-place form leaves the permuted LU factors: row 2 of [[0,1],[1,0]] moved to the top.
  det_alloc_dmat(swap.get(), 2);
  EXPECT_EQ(swap.row(1), (std::vector<double>{1, 0}));
}

TEST(Determinant, ARowOfZerosEndsTheRun) {
  one_based_matrix a({{1, 2}, {0, 0}});
  call_outcome out = capture([&] { det_copy_alloc_dmat(a.get(), 2); });
  EXPECT_EQ(out.exit_code, 1);
  EXPECT_EQ(out.err, lu_failure);
}

TEST(VectorOps, QuadraticFormPieces) {
  one_based_matrix m({{1, 2, 3}, {4, 5, 6}});
  one_based_vector v({1, 1});
  one_based_vector result({-7, -7, -7});
  left_mult_dmatrix(m.get(), 2, 3, v.get(), result.get());
  EXPECT_EQ(result.get()[1], 5.0);
  EXPECT_EQ(result.get()[2], 7.0);
  EXPECT_EQ(result.get()[3], 9.0);

  one_based_vector x({3, 5}), y({1, 7}), diff({0, 0});
  subtract_dvec(x.get(), y.get(), diff.get(), 2);
  EXPECT_EQ(diff.get()[1], 2.0);
  EXPECT_EQ(diff.get()[2], -2.0);
  EXPECT_EQ(dot_product_dvec(x.get(), y.get(), 2), 38.0);
  EXPECT_EQ(dot_product_dvec(x.get(), y.get(), 0), 0.0);
  EXPECT_EQ(x.get()[0], -99999.0);  // element 0 is never touched

  one_based_matrix copy(2, 3, 0.0);
  copy_dmat(m.get(), copy.get(), 2, 3);
  EXPECT_EQ(copy.row(2), (std::vector<double>{4, 5, 6}));
}
