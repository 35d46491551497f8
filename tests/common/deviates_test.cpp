// The uniform generator of common/random.h and the deviates drawn from its streams.
#include "common/deviates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "common/random.h"
#include "support/capture.h"

using namespace mogem::detail;

namespace {

// A caller-held uniform stream with the state each deviate keeps between calls.
struct stream {
  int32_t idum;
  int32_t iy = 0;
  int32_t iv[RAN1_TABLE_SIZE] = {};
  int iset = 0, nold = -1;
  float gset = 0, sq = 0, alxm = 0, g = 0, oldm = -1, pold = -1, pc = 0, plog = 0, pclog = 0, en = 0, oldg = 0;
  explicit stream(int32_t seed) : idum(-seed) {}
  float draw() { return ran1_pll(&idum, &iy, iv); }
  float exp() { return expdev_pll(&idum, &iy, iv); }
  float gauss() { return gasdev_pll(&idum, &iy, iv, &iset, &gset); }
  float gamma(int ia) { return gamdev_pll(ia, &idum, &iy, iv); }
  float poisson(float xm) { return poidev_pll(xm, &idum, &iy, iv, &sq, &alxm, &g, &oldm); }
  float binomial(float pp, int n) {
    return bnldev_pll(pp, n, &idum, &iy, iv, &nold, &pold, &pc, &plog, &pclog, &en, &oldg);
  }
};

float minus_log(float u) { return static_cast<float>(-std::log(static_cast<double>(u))); }

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

TEST(Random, RangesAndAReversedRealRange) {
  int32_t a = -5, b = -5;
  EXPECT_EQ(iran(5, 5, &a), 5);
  ran1(&b);
  EXPECT_EQ(a, b);  // a one-value range still spends its draw
  double value = 0;
  call_outcome outcome = capture([&] { value = dran(2.0, 1.0, &a); });  // a reversed real range only warns
  EXPECT_EQ(outcome.exit_code, call_outcome::no_exit);
  EXPECT_EQ(outcome.err, "Error in dran boundries (random): max (1.000000) < mix (2.000000)\n");
  EXPECT_GT(value, 1.0);
  EXPECT_LT(value, 2.0);
  EXPECT_LT(seed(), 0);
}

// The caller-held forms draw what the module-held ones draw from the same seed.
TEST(Deviates, CallerHeldFormsFollowTheModuleHeldOnes) {
  int32_t plain = -77;
  stream s(77);
  for (int i = 0; i < 50; i++) {
    ASSERT_EQ(ran1(&plain), s.draw());
    ASSERT_EQ(expdev(&plain), s.exp());
    ASSERT_EQ(gasdev(&plain), s.gauss());
    ASSERT_EQ(gamdev(3 + i % 6, &plain), s.gamma(3 + i % 6));
    ASSERT_EQ(poidev(i % 2 ? 3.5f : 40.0f, &plain), s.poisson(i % 2 ? 3.5f : 40.0f));
    ASSERT_EQ(bnldev(i % 3 ? 0.35f : 0.8f, i % 4 ? 60 : 10, &plain), s.binomial(i % 3 ? 0.35f : 0.8f, i % 4 ? 60 : 10));
    ASSERT_EQ(plain, s.idum) << "round " << i;
  }
}

// Values worked from the uniforms the stream gives.
TEST(Deviates, WorkedFromTheUniforms) {
  stream s(11), ref(11);
  EXPECT_EQ(s.exp(), minus_log(ref.draw()));
  EXPECT_EQ(iran_pll(1, 6, &s.idum, &s.iy, s.iv), static_cast<int>(1 + ref.draw() * 6.0));
  float product = 1.0f;  // a small integer shape multiplies its uniforms
  for (int j = 0; j < 5; j++) product *= ref.draw();
  EXPECT_EQ(s.gamma(5), minus_log(product));
  EXPECT_EQ(gammadev_pll(3.0, &s.idum, &s.iy, s.iv), ref.gamma(3));  // an integer shape is gamdev
  int below = 0;  // above one half the binomial counts the complement
  for (int j = 0; j < 10; j++) below += ref.draw() < static_cast<float>(1.0 - 0.7f);
  EXPECT_EQ(s.binomial(0.7f, 10), 10 - below);
  EXPECT_EQ(s.poisson(0.0f), 0.0f);
}

TEST(Deviates, RefusalsEndTheRun) {
  stream s(1);
  const struct {
    std::function<void()> call;
    const char *message;
  } cases[] = {
      {[&] { s.gamma(-2); }, "Error in gamdev: ia = -2 < 1\n"},  // gamdev(ia, &seed) shares the check
      {[&] { gammadev_pll(0.5, &s.idum, &s.iy, s.iv); }, "Problem in gammadev_pll:  a = 0.5000\n"},
      {[&] { iran_pll(5, 3, &s.idum, &s.iy, s.iv); }, "Error in irandom boundaries: max (3) < min (5)\n"},
      {[&] { iran(6, 5, &s.idum); }, "Error in iran boundaries (random): max (5) < min (6)\n"},
  };
  for (const auto &c : cases) {
    call_outcome outcome = capture(c.call);
    EXPECT_EQ(outcome.exit_code, -1) << c.message;
    EXPECT_EQ(outcome.err, c.message);
  }
}

TEST(Deviates, SortAndLogGamma) {
  double pairs[7][2] = {{3, 30}, {1, 10}, {4, 40}, {1, 11}, {5, 50}, {9, 90}, {2, 20}};
  quickSortD(pairs, 0, 6);
  const double keys[7] = {1, 1, 2, 3, 4, 5, 9};
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(pairs[i][0], keys[i]);
    EXPECT_EQ(std::floor(pairs[i][1] / 10), keys[i]) << "pair " << i << " lost its second element";
  }
  const double log_gamma[][3] = {{1, 0, 1e-6}, {0.5, 0.5723649429247001, 1e-6},  // ln sqrt(pi)
                                 {10, 12.801827480081469, 2e-6}, {101, 363.73937555556347, 1e-4}};  // ln 9!, ln 100!
  for (const auto &c : log_gamma) {
    EXPECT_NEAR(gammln(static_cast<float>(c[0])), c[1], c[2]) << c[0];
    EXPECT_EQ(gammln_pll(static_cast<float>(c[0])), gammln(static_cast<float>(c[0])));
  }
}
