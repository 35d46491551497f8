#include "common/random.h"

#include <gtest/gtest.h>

#include "support/capture.h"

using namespace mogem::detail;

namespace {

// s * 16807^e mod (2^31 - 1), computed without the Schrage arithmetic.
int64_t power_step(int64_t s, int e) {
  for (int i = 0; i < e; i++) s = s * 16807 % 2147483647;
  return s;
}

}  // namespace

// A positive seed is negated and ran1 called once: 40 table steps and one more.
TEST(Ran1, SeedsGiveTheStatesOfTheRecurrence) {
  for (int32_t s : {1, 42, 12345, 2147483646}) {
    int32_t state = -s;
    const float u = ran1(&state);
    EXPECT_EQ(state, power_step(s, 41)) << "seed " << s;
    EXPECT_GT(u, 0.0f);
    EXPECT_LT(u, 1.0f);
  }
  int32_t largest = -2147483647;
  EXPECT_EQ(ran1(&largest), 0.0f);
  EXPECT_EQ(largest, 0);
}

TEST(Random, RangesAndTheirRefusals) {
  int32_t a = -5, b = -5;
  EXPECT_EQ(iran(5, 5, &a), 5);
  ran1(&b);
  EXPECT_EQ(a, b);  // a one-value range still spends its draw
  call_outcome outcome = capture([&] { iran(6, 5, &a); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error in iran boundaries (random): max (5) < min (6)\n");
  double value = 0;
  outcome = capture([&] { value = dran(2.0, 1.0, &a); });  // a reversed real range only warns
  EXPECT_EQ(outcome.exit_code, call_outcome::no_exit);
  EXPECT_EQ(outcome.err, "Error in dran boundries (random): max (1.000000) < mix (2.000000)\n");
  EXPECT_GT(value, 1.0);
  EXPECT_LT(value, 2.0);
  EXPECT_LT(seed(), 0);
}
