// The uniform generator the fits seed their starts with (common/random.h). (The deviates, iran,
// dran and the module-held stream are routines no run, face or public header reaches.)
#include "common/random.h"

#include <gtest/gtest.h>

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
    int32_t state = -s, iy = 0, iv[RAN1_TABLE_SIZE] = {};
    const float u = ran1_pll(&state, &iy, iv);
    EXPECT_EQ(state, power_step(s, 41)) << "seed " << s;
    EXPECT_GT(u, 0.0f);
    EXPECT_LT(u, 1.0f);
  }
  int32_t largest = -2147483647, iy = 0, iv[RAN1_TABLE_SIZE] = {};
  EXPECT_EQ(ran1_pll(&largest, &iy, iv), 0.0f);
  EXPECT_EQ(largest, 0);
}
