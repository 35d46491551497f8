// The containers of nr_util.h and one_based.h, and the run-time error they end a
// run with.
#include "nr/nr_util.h"

#include <gtest/gtest.h>

#include <climits>

#include "nr/one_based.h"
#include "support/capture.h"

using namespace mogem::detail;

namespace {

std::string nr_failure(const std::function<void()> &call) {
  call_outcome outcome = capture(call);
  EXPECT_EQ(outcome.exit_code, 1);
  return outcome.err;
}

// Writes 10 * row + column to every element, then reads each back through the one row-major
// run that starts at m[rl][cl].
template <typename T>
void expect_row_major(T **m, long rl, long rh, long cl, long ch) {
  for (long i = rl; i <= rh; i++)
    for (long j = cl; j <= ch; j++) m[i][j] = static_cast<T>(10 * i + j);
  for (long i = rl; i <= rh; i++)
    for (long j = cl; j <= ch; j++)
      ASSERT_EQ((&m[rl][cl])[(i - rl) * (ch - cl + 1) + (j - cl)], static_cast<T>(10 * i + j));
}

}  // namespace

// Sizes whose byte count cannot exist must fail like exhausted memory, without allocating; a
// reversed range asks for a negative count and is refused the same way.
TEST(RunTimeError, ImpossibleSizesFailWithTheAllocatorsText) {
  const struct {
    std::function<void()> call;
    const char *text;
  } cases[] = {
      {[] { NR_dvector(5, 2); }, "allocation failure in dvector()"},
      {[] { NR_ivector(1, LONG_MAX - 1); }, "allocation failure in ivector()"},
      {[] { NR_dmatrix(1, LONG_MAX / 4, 1, 2); }, "allocation failure 1 in matrix()"},
      {[] { NR_dmatrix(1, 2147483647, 1, 2147483647); }, "allocation failure 2 in matrix()"},
      {[] { NR_d3tensor(1, 2, 1, LONG_MAX / 2, 1, 2); }, "allocation failure 2 in NR_d3tensor()"},
      {[] { NR_d3tensor(1, 1, 1, 2, 1, LONG_MAX / 4); }, "allocation failure 3 in NR_d3tensor()"},
      // The owning containers of the model state, with the same texts.
      {[] { one_based_vector<double>(LONG_MAX); }, "allocation failure in dvector()"},
      {[] { one_based_matrix(LONG_MAX / 4, 2); }, "allocation failure 1 in matrix()"},
      {[] { one_based_matrix(3, LONG_MAX / 2); }, "allocation failure 2 in matrix()"},
      {[] { one_based_tensor(LONG_MAX / 4, 1, 1); }, "allocation failure 1 in NR_d3tensor()"},
      {[] { one_based_tensor(2, LONG_MAX / 2, 2); }, "allocation failure 2 in NR_d3tensor()"},
      {[] { one_based_tensor(1, 1, LONG_MAX / 4); }, "allocation failure 3 in NR_d3tensor()"},
  };
  for (const auto &c : cases) EXPECT_EQ(nr_failure(c.call), nr_error_text(c.text));
}

TEST(Containers, EmptyShapesAllocateAndRelease) {
  call_outcome out = capture([] {
    NR_free_dvector(NR_dvector(1, 0), 1, 0);
    NR_free_dmatrix(NR_dmatrix(1, 3, 1, 0), 1, 3, 1, 0);
    NR_free_dmatrix(NR_dmatrix(1, 0, 1, 4), 1, 0, 1, 4);
    NR_free_d3tensor(NR_d3tensor(1, 2, 1, 0, 1, 0), 1, 2, 1, 0, 1, 0);
  });
  EXPECT_EQ(out.exit_code, call_outcome::no_exit);
  EXPECT_EQ(out.err, "");
}

// The owning containers of the model state: the numeric library's layout, the caller's values
// borrowed in place, handles that survive a move.
TEST(OwningContainers, KeepTheLayoutAndBorrowInPlace) {
  one_based_matrix own(3, 4);
  EXPECT_EQ(own.get()[1], own[1]);
  expect_row_major(own.get(), 1, 3, 1, 4);
  const one_based_matrix moved = std::move(own);
  EXPECT_EQ(moved[3][4], 34.0);
  std::vector<double> values = {1, 2, 3, 4, 5, 6};
  one_based_matrix borrowed = one_based_matrix::borrow(values.data(), 3, 2);
  borrowed[3][1] = -5;
  EXPECT_EQ(values[4], -5.0);
  EXPECT_TRUE(borrowed.take_values().empty());
  const std::vector<double> taken = one_based_matrix(2, 2).take_values();
  EXPECT_EQ(taken.size(), 5u);  // the spare value in front, then the four
  one_based_tensor t(2, 3, 4);
  EXPECT_EQ(&t[2][3][4], &t[1][1][1] + 23);
  EXPECT_EQ(t.get()[2], t[2]);
  one_based_vector<int> v(3);
  EXPECT_EQ(v.size(), 3);
  EXPECT_EQ(v[3], 0);
}
