#include "nr/nr_util.h"

#include <gtest/gtest.h>

#include <climits>

#include "support/capture.h"

TEST(Containers, VectorsAreIndexedWithTheirOwnBounds) {
  double *one = NR_dvector(1, 1);
  one[1] = 2.5;
  EXPECT_EQ(one[1], 2.5);
  NR_free_dvector(one, 1, 1);

  double *empty = NR_dvector(1, 0);  // valid handle, no usable element
  NR_free_dvector(empty, 1, 0);

  double *zero_based = NR_dvector(0, 4);
  for (int i = 0; i <= 4; i++) zero_based[i] = i;
  EXPECT_EQ(&zero_based[4], &zero_based[0] + 4);
  NR_free_dvector(zero_based, 0, 4);

  int *labels = NR_ivector(1, 3);
  labels[3] = 7;
  EXPECT_EQ(labels[3], 7);
  NR_free_ivector(labels, 1, 3);
}

TEST(Containers, MatrixRowsAreOneContiguousRun) {
  double **m = NR_dmatrix(1, 3, 1, 4);
  EXPECT_EQ(&m[2][1], &m[1][4] + 1);
  EXPECT_EQ(&m[3][4], &m[1][1] + 11);
  for (int i = 1; i <= 3; i++)
    for (int j = 1; j <= 4; j++) m[i][j] = 10 * i + j;
  EXPECT_EQ((&m[1][1])[6], 23.0);  // row 2, column 3
  NR_free_dmatrix(m, 1, 3, 1, 4);

  double **shifted = NR_dmatrix(0, 1, 5, 6);
  shifted[0][5] = 1;
  shifted[1][6] = 4;
  EXPECT_EQ(&shifted[1][5], &shifted[0][6] + 1);
  EXPECT_EQ(&shifted[1][6], &shifted[0][5] + 3);
  NR_free_dmatrix(shifted, 0, 1, 5, 6);
}

TEST(Containers, TensorSlicesFollowEachOther) {
  double ***t = NR_d3tensor(1, 2, 1, 3, 1, 3);
  EXPECT_EQ(&t[2][1][1], &t[1][3][3] + 1);
  EXPECT_EQ(&t[2][3][3], &t[1][1][1] + 17);
  EXPECT_EQ(&t[1][2][1], &t[1][1][3] + 1);
  NR_free_d3tensor(t, 1, 2, 1, 3, 1, 3);
}

TEST(Containers, EmptyShapesAllocateAndRelease) {
  double **no_columns = NR_dmatrix(1, 3, 1, 0);
  NR_free_dmatrix(no_columns, 1, 3, 1, 0);
  double **no_rows = NR_dmatrix(1, 0, 1, 4);
  NR_free_dmatrix(no_rows, 1, 0, 1, 4);
  double ***flat = NR_d3tensor(1, 2, 1, 0, 1, 0);
  NR_free_d3tensor(flat, 1, 2, 1, 0, 1, 0);
}

TEST(RunTimeError, WritesThreeLinesAndEndsWithStatusOne) {
  call_outcome outcome = capture([] { NR_error("NR_dcholdc failed"); });
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.err, "Numerical Recipes run-time error...\nNR_dcholdc failed\n...now exiting to system...\n");
}

// Sizes whose byte count cannot exist must fail like exhausted memory, without allocating.
TEST(RunTimeError, OverflowingSizesFailWithTheAllocatorsText) {
  auto failure_text = [](const std::function<void()> &call) {
    call_outcome outcome = capture(call);
    EXPECT_EQ(outcome.exit_code, 1);
    return outcome.err;
  };
  const std::string banner = "Numerical Recipes run-time error...\n";
  const std::string tail = "...now exiting to system...\n";
  EXPECT_EQ(failure_text([] { NR_dvector(1, LONG_MAX); }), banner + "allocation failure in dvector()\n" + tail);
  EXPECT_EQ(failure_text([] { NR_ivector(1, LONG_MAX - 1); }), banner + "allocation failure in ivector()\n" + tail);
  EXPECT_EQ(failure_text([] { NR_dmatrix(1, LONG_MAX / 4, 1, 2); }), banner + "allocation failure 1 in matrix()\n" + tail);
  EXPECT_EQ(failure_text([] { NR_dmatrix(1, 2147483647, 1, 2147483647); }),
            banner + "allocation failure 2 in matrix()\n" + tail);
  EXPECT_EQ(failure_text([] { NR_d3tensor(1, 2, 1, LONG_MAX / 2, 1, 2); }),
            banner + "allocation failure 2 in NR_d3tensor()\n" + tail);
  EXPECT_EQ(failure_text([] { NR_d3tensor(1, 1, 1, 2, 1, LONG_MAX / 4); }),
            banner + "allocation failure 3 in NR_d3tensor()\n" + tail);
  // A reversed range asks for a negative count: refused the same way.
  EXPECT_EQ(failure_text([] { NR_dvector(5, 2); }), banner + "allocation failure in dvector()\n" + tail);
}
