#include "nr/nr_kinds.h"

#include <gtest/gtest.h>

#include <climits>

#include "support/capture.h"

namespace {

// Fills m[rl..rh][cl..ch] with 10 * row + column and checks the row-major contiguity.
template <typename T>
void fill_and_check(T **m, long rl, long rh, long cl, long ch) {
  for (long i = rl; i <= rh; i++)
    for (long j = cl; j <= ch; j++) m[i][j] = static_cast<T>(10 * i + j);
  long ncol = ch - cl + 1;
  for (long i = rl; i <= rh; i++)
    for (long j = cl; j <= ch; j++) ASSERT_EQ(&m[i][j], &m[rl][cl] + (i - rl) * ncol + (j - cl));
  EXPECT_EQ(m[rh][ch], static_cast<T>(10 * rh + ch));
}

std::string failure(const std::function<void()> &call) {
  call_outcome outcome = capture(call);
  EXPECT_EQ(outcome.exit_code, 1);
  const std::string banner = "Numerical Recipes run-time error...\n";
  if (outcome.err.rfind(banner, 0) != 0) return "no banner: " + outcome.err;
  return outcome.err.substr(banner.size(), outcome.err.find('\n', banner.size()) - banner.size());
}

}  // namespace

TEST(FurtherContainers, EveryKindIsIndexedWithItsBoundsAndReleased) {
  float *v = NR_vector(-2, 2);
  for (int i = -2; i <= 2; i++) v[i] = i * 0.5f;
  EXPECT_EQ(v[-2] + v[2], 0.0f);
  NR_free_vector(v, -2, 2);

  unsigned char *c = NR_cvector(1, 256);
  for (int i = 1; i <= 256; i++) c[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(c[256], 0);
  NR_free_cvector(c, 1, 256);

  uint32_t *l = NR_lvector(1, 3);
  EXPECT_EQ(sizeof l[1], 4u);
  l[3] = 0xFFFFFFFFu;
  EXPECT_EQ(l[3] + 1u, 0u);
  NR_free_lvector(l, 1, 3);

  float **fm = NR_matrix(1, 3, 1, 4);
  fill_and_check(fm, 1, 3, 1, 4);
  NR_free_matrix(fm, 1, 3, 1, 4);
  int **im = NR_imatrix(0, 2, 5, 7);
  fill_and_check(im, 0, 2, 5, 7);
  NR_free_imatrix(im, 0, 2, 5, 7);
  unsigned char **cm = NR_cmatrix(2, 3, 1, 2);
  fill_and_check(cm, 2, 3, 1, 2);
  NR_free_cmatrix(cm, 2, 3, 1, 2);

  float ***t = NR_f3tensor(1, 2, 1, 3, 1, 4);
  EXPECT_EQ(&t[1][2][1], &t[1][1][4] + 1);
  EXPECT_EQ(&t[2][1][1], &t[1][3][4] + 1);
  EXPECT_EQ(&t[2][3][4], &t[1][1][1] + 23);
  t[2][3][4] = 1.5f;
  NR_free_f3tensor(t, 1, 2, 1, 3, 1, 4);
}

TEST(FurtherContainers, ImpossibleSizesFailWithTheirOwnTexts) {
  EXPECT_EQ(failure([] { NR_vector(1, LONG_MAX); }), "allocation failure in vector()");
  EXPECT_EQ(failure([] { NR_cvector(1, LONG_MAX); }), "allocation failure in cvector()");
  EXPECT_EQ(failure([] { NR_lvector(1, LONG_MAX); }), "allocation failure in lvector()");
  EXPECT_EQ(failure([] { NR_matrix(1, LONG_MAX / 4, 1, 2); }), "allocation failure 1 in matrix()");
  EXPECT_EQ(failure([] { NR_imatrix(1, 1 << 20, 1, LONG_MAX / 8); }), "allocation failure 2 in matrix()");
  EXPECT_EQ(failure([] { NR_cmatrix(1, 2, 1, LONG_MAX); }), "allocation failure 2 in matrix()");
  EXPECT_EQ(failure([] { NR_f3tensor(1, LONG_MAX / 4, 1, 1, 1, 1); }), "allocation failure 1 in NR_f3tensor()");
  EXPECT_EQ(failure([] { NR_f3tensor(1, 1 << 20, 1, LONG_MAX / 8, 1, 1); }), "allocation failure 2 in NR_f3tensor()");
  EXPECT_EQ(failure([] { NR_f3tensor(1, 2, 1, 2, 1, LONG_MAX / 2); }), "allocation failure 3 in NR_f3tensor()");
}

TEST(Views, SubmatrixRenumbersRowsAndColumnsOfTheSameElements) {
  float **a = NR_matrix(1, 4, 1, 5);
  fill_and_check(a, 1, 4, 1, 5);
  float **b = NR_submatrix(a, 2, 3, 2, 5, 1, 1);  // rows 2..3, from column 2, as 1.. and 1..
  EXPECT_EQ(b[1][1], 22.0f);
  EXPECT_EQ(b[2][4], 35.0f);
  b[2][1] = -1.0f;
  EXPECT_EQ(a[3][2], -1.0f);
  NR_free_submatrix(b, 1, 2, 1, 4);
  float **shifted = NR_submatrix(a, 1, 4, 1, 5, 0, 0);  // zero-based view of the whole matrix
  EXPECT_EQ(&shifted[0][0], &a[1][1]);
  EXPECT_EQ(&shifted[3][4], &a[4][5]);
  NR_free_submatrix(shifted, 0, 3, 0, 4);
  NR_free_matrix(a, 1, 4, 1, 5);

  unsigned char **c = NR_cmatrix(1, 3, 1, 3);
  fill_and_check(c, 1, 3, 1, 3);
  unsigned char **cv = NR_csubmatrix(c, 2, 3, 3, 3, 5, 7);
  EXPECT_EQ(cv[5][7], 23);
  EXPECT_EQ(cv[6][7], 33);
  NR_free_submatrix(cv, 5, 6, 7, 7);
  NR_free_cmatrix(c, 1, 3, 1, 3);
}

TEST(Views, ConvertMatrixLooksIntoAFlatRowMajorArray) {
  float flat[6] = {1, 2, 3, 4, 5, 6};
  float **m = NR_convert_matrix(flat, 1, 2, 1, 3);
  EXPECT_EQ(&m[1][1], &flat[0]);
  EXPECT_EQ(&m[2][1], &flat[3]);
  EXPECT_EQ(m[2][3], 6.0f);
  m[1][2] = 20;
  EXPECT_EQ(flat[1], 20.0f);
  NR_free_convert_matrix(m, 1, 2, 1, 3);

  float **zero_based = NR_convert_matrix(flat, 0, 2, 0, 1);  // 3 rows of 2
  EXPECT_EQ(&zero_based[2][1], &flat[5]);
  NR_free_convert_matrix(zero_based, 0, 2, 0, 1);
}
