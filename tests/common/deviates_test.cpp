#include "common/deviates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "common/random.h"
#include "support/capture.h"

namespace {

// A caller-held uniform stream, seeded on its first draw.
struct stream {
  int32_t idum;
  int32_t iy = 0;
  int32_t iv[RAN1_TABLE_SIZE] = {};
  explicit stream(int32_t seed) : idum(-seed) {}
  float draw() { return ran1_pll(&idum, &iy, iv); }
  void skip(int draws) {
    for (int i = 0; i < draws; i++) draw();
  }
  bool same_position(const stream &other) const {
    return idum == other.idum && iy == other.iy && std::equal(iv, iv + RAN1_TABLE_SIZE, other.iv);
  }
};

// Sample mean and variance of n draws against the distribution's mean, variance and fourth
// central moment, each within 5 standard errors.
void expect_moments(const std::function<double()> &draw, int n, double mean, double variance, double mu4) {
  double sum = 0, sum2 = 0;
  std::vector<double> values(n);
  for (int i = 0; i < n; i++) {
    values[i] = draw();
    sum += values[i];
  }
  double sample_mean = sum / n;
  for (double v : values) sum2 += (v - sample_mean) * (v - sample_mean);
  double sample_variance = sum2 / (n - 1);
  EXPECT_NEAR(sample_mean, mean, 5 * std::sqrt(variance / n));
  EXPECT_NEAR(sample_variance, variance, 5 * std::sqrt((mu4 - variance * variance) / n));
}

constexpr int DRAWS = 100000;

}  // namespace

TEST(Ran1Pll, FollowsTheSequenceOfRan1) {
  int32_t plain = -321;
  stream s(321);
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(ran1(&plain), s.draw()) << "draw " << i;
    ASSERT_EQ(plain, s.idum);
  }
  stream fresh(5);  // a zero iy seeds even when idum is positive, as ran1's seeding rule does: like 1
  fresh.idum = 5;
  EXPECT_EQ(fresh.draw(), stream(1).draw());
}

TEST(IranPll, DrawsInRangeAndNamesItselfWhenReversed) {
  stream s(9), reference(9);
  EXPECT_EQ(iran_pll(1, 6, &s.idum, &s.iy, s.iv), static_cast<int>(1 + reference.draw() * 6.0));
  call_outcome outcome = capture([&] { iran_pll(5, 3, &s.idum, &s.iy, s.iv); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error in irandom boundaries: max (3) < min (5)\n");
}

TEST(Deviates, PlainFormsDrawWhatTheirTwinsDrawOnTheSameSeed) {
  int32_t plain = -77;
  stream s(77);
  int iset = 0;
  float gset = 0;
  float sq = 0, alxm = 0, g = 0, oldm = -1;
  int nold = -1;
  float pold = -1, pc = 0, plog = 0, pclog = 0, en = 0, oldg = 0;
  for (int i = 0; i < 50; i++) {
    ASSERT_EQ(expdev(&plain), expdev_pll(&s.idum, &s.iy, s.iv));
    ASSERT_EQ(gasdev(&plain), gasdev_pll(&s.idum, &s.iy, s.iv, &iset, &gset));
    ASSERT_EQ(gasdev(&plain), gasdev_pll(&s.idum, &s.iy, s.iv, &iset, &gset));
    ASSERT_EQ(gamdev(3 + i % 6, &plain), gamdev_pll(3 + i % 6, &s.idum, &s.iy, s.iv));
    float xm = i % 2 ? 3.5f : 40.0f;
    ASSERT_EQ(poidev(xm, &plain), poidev_pll(xm, &s.idum, &s.iy, s.iv, &sq, &alxm, &g, &oldm));
    float pp = i % 3 ? 0.35f : 0.8f;
    int n = i % 4 ? 60 : 10;
    ASSERT_EQ(bnldev(pp, n, &plain),
              bnldev_pll(pp, n, &s.idum, &s.iy, s.iv, &nold, &pold, &pc, &plog, &pclog, &en, &oldg));
    ASSERT_EQ(plain, s.idum) << "round " << i;
  }
}

TEST(Expdev, IsMinusTheLogOfOneUniform) {
  stream s(11), reference(11);
  for (int i = 0; i < 20; i++)
    EXPECT_EQ(expdev_pll(&s.idum, &s.iy, s.iv), static_cast<float>(-std::log(static_cast<double>(reference.draw()))));
  expect_moments([&] { return expdev_pll(&s.idum, &s.iy, s.iv); }, DRAWS, 1, 1, 9);
}

TEST(Gasdev, SecondValueOfAPairComesWithoutADraw) {
  stream s(13);
  int iset = 0;
  float gset = 0;
  float first = gasdev_pll(&s.idum, &s.iy, s.iv, &iset, &gset);
  EXPECT_EQ(iset, 1);
  stream after_first = s;
  float second = gasdev_pll(&s.idum, &s.iy, s.iv, &iset, &gset);
  EXPECT_TRUE(s.same_position(after_first));
  EXPECT_EQ(iset, 0);
  EXPECT_EQ(second, gset);
  EXPECT_NE(first, second);
  expect_moments([&] { return gasdev_pll(&s.idum, &s.iy, s.iv, &iset, &gset); }, DRAWS, 0, 1, 3);
}

TEST(Gamdev, SmallShapesMultiplyUniformsLargerOnesReject) {
  stream s(17), reference(17);
  float product = 1.0f;
  for (int j = 0; j < 5; j++) product *= reference.draw();
  EXPECT_EQ(gamdev_pll(5, &s.idum, &s.iy, s.iv), static_cast<float>(-std::log(static_cast<double>(product))));
  EXPECT_TRUE(s.same_position(reference));

  // Shape 6 rejects: two uniforms per proposal plus one per acceptance test, so never the
  // product of six uniforms.
  float product6 = 1.0f;
  stream probe = reference;
  for (int j = 0; j < 6; j++) product6 *= probe.draw();
  float rejected = gamdev_pll(6, &s.idum, &s.iy, s.iv);
  EXPECT_NE(rejected, static_cast<float>(-std::log(static_cast<double>(product6))));
  int draws = 0;
  while (!reference.same_position(s) && draws < 1000) reference.skip(1), draws++;
  EXPECT_GE(draws, 3);
  EXPECT_TRUE(reference.same_position(s));
  for (int shape : {3, 8}) {
    double k = shape;
    expect_moments([&] { return gamdev_pll(shape, &s.idum, &s.iy, s.iv); }, DRAWS, k, k, 3 * k * k + 6 * k);
  }
}

TEST(Gamdev, ShapesBelowOneEndTheRun) {
  int32_t plain = -1;
  stream s(1);
  call_outcome outcome = capture([&] { gamdev(0, &plain); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error in gamdev: ia = 0 < 1\n");
  outcome = capture([&] { gamdev_pll(-2, &s.idum, &s.iy, s.iv); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error in gamdev: ia = -2 < 1\n");
}

TEST(Gammadev, IntegerShapeIsGamdevAndRealShapeResamples) {
  stream s(19), reference(19);
  EXPECT_EQ(gammadev_pll(3.0, &s.idum, &s.iy, s.iv), gamdev_pll(3, &reference.idum, &reference.iy, reference.iv));

  // 100 proposals of shape 2 (two uniforms each), then one uniform to pick among them.
  float picked = gammadev_pll(2.5, &s.idum, &s.iy, s.iv);
  std::vector<float> proposals;
  for (int i = 0; i < 100; i++) proposals.push_back(gamdev_pll(2, &reference.idum, &reference.iy, reference.iv));
  reference.skip(1);
  EXPECT_TRUE(s.same_position(reference));
  EXPECT_NE(std::find(proposals.begin(), proposals.end(), picked), proposals.end());

  // Resampling 100 proposals is close to, not exactly, a shape-2.5 gamma: fewer draws keep the
  // 5-standard-error band wide enough for its small bias.
  expect_moments([&] { return gammadev_pll(2.5, &s.idum, &s.iy, s.iv); }, 5000, 2.5, 2.5, 3 * 6.25 + 15);

  call_outcome outcome = capture([&] { gammadev_pll(0.5, &s.idum, &s.iy, s.iv); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Problem in gammadev_pll:  a = 0.5000\n");
}

TEST(Gammadev, SortOrdersPairsByTheirFirstElement) {
  double pairs[7][2] = {{3, 30}, {1, 10}, {4, 40}, {1, 11}, {5, 50}, {9, 90}, {2, 20}};
  quickSortD(pairs, 0, 6);
  const double keys[7] = {1, 1, 2, 3, 4, 5, 9};
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(pairs[i][0], keys[i]);
    EXPECT_EQ(std::floor(pairs[i][1] / 10), keys[i]) << "pair " << i << " lost its second element";
  }
}

TEST(Poidev, ProductMethodBelowTwelve) {
  float sq = 0, alxm = 0, g = 0, oldm = -1;
  stream s(23), reference(23);
  EXPECT_EQ(poidev_pll(0.0f, &s.idum, &s.iy, s.iv, &sq, &alxm, &g, &oldm), 0.0f);
  reference.skip(1);
  EXPECT_TRUE(s.same_position(reference));
  EXPECT_EQ(oldm, 0.0f);

  float em = poidev_pll(11.99f, &s.idum, &s.iy, s.iv, &sq, &alxm, &g, &oldm);
  reference.skip(static_cast<int>(em) + 1);  // one uniform per count, plus the one that stops
  EXPECT_TRUE(s.same_position(reference));

  expect_moments([&] { return poidev_pll(4.0f, &s.idum, &s.iy, s.iv, &sq, &alxm, &g, &oldm); }, DRAWS, 4, 4,
                 4 + 3 * 16);
  expect_moments([&] { return poidev_pll(30.0f, &s.idum, &s.iy, s.iv, &sq, &alxm, &g, &oldm); }, DRAWS, 30, 30,
                 30 + 3 * 900);
  EXPECT_EQ(alxm, static_cast<float>(std::log(30.0)));
}

TEST(Bnldev, ComplementIsCountedWithTheSmallerProbability) {
  int nold = -1;
  float pold = -1, pc = 0, plog = 0, pclog = 0, en = 0, oldg = 0;
  stream s(29), reference(29);
  float p = static_cast<float>(1.0 - 0.7f);
  int count = 0;
  for (int j = 0; j < 10; j++) count += reference.draw() < p;
  EXPECT_EQ(bnldev_pll(0.7f, 10, &s.idum, &s.iy, s.iv, &nold, &pold, &pc, &plog, &pclog, &en, &oldg), 10 - count);

  struct trial {
    int n;
    float pp;
  };
  // The counting, small-mean and rejection methods, the last also through the complement.
  for (trial t : {trial{20, 0.3f}, trial{100, 0.005f}, trial{100, 0.4f}, trial{60, 0.8f}}) {
    double pq = t.n * static_cast<double>(t.pp) * (1 - t.pp);
    double mu4 = pq * (1 + 3 * (t.n - 2) * static_cast<double>(t.pp) * (1 - t.pp));
    expect_moments(
        [&] { return bnldev_pll(t.pp, t.n, &s.idum, &s.iy, s.iv, &nold, &pold, &pc, &plog, &pclog, &en, &oldg); },
        DRAWS, t.n * t.pp, pq, mu4);
  }
}

TEST(Gammln, MatchesKnownLogGammaValues) {
  EXPECT_NEAR(gammln(1.0f), 0.0, 1e-6);
  EXPECT_NEAR(gammln(2.0f), 0.0, 1e-6);
  EXPECT_NEAR(gammln(0.5f), 0.5723649429247001, 1e-6);  // ln sqrt(pi)
  EXPECT_NEAR(gammln(10.0f), 12.801827480081469, 2e-6);  // ln 9!
  EXPECT_NEAR(gammln(101.0f), 363.73937555556347, 1e-4);  // ln 100!
  for (float x = 0.25f; x < 200; x *= 1.7f) EXPECT_EQ(gammln_pll(x), gammln(x)) << x;
}
