#include "initializations/init_means.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "support/capture.h"
#include "support/one_based.h"

namespace {

constexpr double unset = -12345.0;

// The seed a run with the default random_seed 42 hands to the initializations.
constexpr int32_t default_run_seed = 806666144;

// Means for the one-feature data 0, 1, 2, 10 and two classes.
std::vector<double> four_point_means(int method, int samples = 0) {
  one_based_matrix data({{0}, {1}, {2}, {10}});
  one_based_matrix means(2, 1, unset);
  init_means(data.get(), means.get(), 4, 1, 2, method, default_run_seed, samples, nullptr);
  return {means[1][1], means[2][1]};
}

// Data point i (1..n) is 2^i, so a mean times the sample count names its points by its bits.
struct power_data {
  explicit power_data(int n) : rows(n), m(n, 1, 0.0) {
    for (int i = 1; i <= n; i++) m[i][1] = std::ldexp(1.0, i);
  }
  std::set<int> points_of(double mean, int samples) const {
    long long bits = std::llround(mean * samples);
    std::set<int> points;
    for (int i = 1; i <= rows; i++)
      if (bits & (1LL << i)) points.insert(i);
    return points;
  }
  int rows;
  one_based_matrix m;
};

std::vector<std::set<int>> sample_windows(int n, int classes, int samples, int method = RANDOM_SAMPLE) {
  power_data data(n);
  one_based_matrix means(classes, 1, unset);
  init_means(data.m.get(), means.get(), n, 1, classes, method, default_run_seed, samples, nullptr);
  int taken = std::min(samples, n);
  std::vector<std::set<int>> windows;
  for (int k = 1; k <= classes; k++) windows.push_back(data.points_of(means[k][1], taken));
  return windows;
}

size_t shared(const std::set<int> &a, const std::set<int> &b) {
  size_t n = 0;
  for (int x : a) n += b.count(x);
  return n;
}

}  // namespace

TEST(ChurchMeans, CentroidThenFarthestPoints) {
  one_based_matrix data({{0}, {1}, {2}, {10}});
  one_based_matrix means(3, 1, unset);
  init_means(data.get(), means.get(), 4, 1, 3, CHURCH_MEANS, 0, 0, nullptr);
  EXPECT_EQ(means[1][1], 3.25);  // the centroid
  EXPECT_EQ(means[2][1], 10.0);  // 6.75 from the centroid
  EXPECT_EQ(means[3][1], 0.0);   // 3.25 + 10 = 13.25 beats the point 1 with 2.25 + 9

  one_based_matrix one(1, 1, unset);
  church_means(data.get(), one.get(), 4, 1, 1);
  EXPECT_EQ(one[1][1], 3.25);
}

TEST(ChurchMeans, TiesGoToTheLowerIndexAndDuplicatesMayBeChosen) {
  // The centroid is the origin; points 2 to 5 all lie 5 from it; 4 and 5 repeat 2 and 3.
  one_based_matrix data({{0, 0}, {-5, 0}, {5, 0}, {-5, 0}, {5, 0}});
  one_based_matrix means(4, 2, unset);
  church_means(data.get(), means.get(), 5, 2, 4);
  EXPECT_EQ(means.row(1), (std::vector<double>{0, 0}));
  EXPECT_EQ(means.row(2), (std::vector<double>{-5, 0}));  // point 2, lowest of four ties
  EXPECT_EQ(means.row(3), (std::vector<double>{5, 0}));   // point 3 ties point 5 at 5 + 10
  // Points 4 and 5 now both score 15, point 1 only 10: point 4, equal in value to the chosen
  // point 2, is chosen, since points are excluded by index, not by value.
  EXPECT_EQ(means.row(4), (std::vector<double>{-5, 0}));
}

TEST(ChurchMeans, NoNumericScoreEndsTheRun) {
  one_based_matrix data({{NAN, 1}, {2, NAN}, {NAN, NAN}});
  one_based_matrix means(2, 2, unset);
  call_outcome out = capture([&] { church_means(data.get(), means.get(), 3, 2, 2); });
  EXPECT_EQ(out.exit_code, -1);
  EXPECT_NE(out.err.find("church means"), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("class 2"), std::string::npos) << out.err;
}

TEST(RandomInits, SeedFortyTwoOnFourPoints) {
  // Draws for the seed: lrand48() % 4 + 1 gives 3, 1, 3, 2, ...
  EXPECT_EQ(four_point_means(RANDOM_MEANS), (std::vector<double>{1.5, 5.0}));
  EXPECT_EQ(four_point_means(RANDOM_POINT), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(four_point_means(RANDOM_RANGE), (std::vector<double>{6.883960953719033, 6.405093747630133}));
  // The means depend on the seed alone, not on earlier draws of the process.
  lrand48();
  EXPECT_EQ(four_point_means(RANDOM_MEANS), (std::vector<double>{1.5, 5.0}));
}

TEST(RandomInits, RandomMeansKeepsTheRoundRobinClassSizes) {
  // With 7 points and 3 classes the classes hold 3, 2 and 2 points whatever the swaps do;
  // all points at 6 makes each class mean 6 only if each count matches its class.
  one_based_matrix data({{6}, {6}, {6}, {6}, {6}, {6}, {6}});
  one_based_matrix means(3, 1, unset);
  random_means(data.get(), means.get(), 7, 1, 3, 12345);
  for (int k = 1; k <= 3; k++) EXPECT_EQ(means[k][1], 6.0) << k;
}

TEST(RandomInits, SampleWindowsAreDisjointWhileTheShuffleSuffices) {
  // 3 x 2 = 6 < 10 points: windows 1-2, 3-4, 5-6 of the shuffled list.
  std::vector<std::set<int>> w = sample_windows(10, 3, 2);
  std::set<int> all;
  for (const auto &s : w) {
    EXPECT_EQ(s.size(), 2u);
    all.insert(s.begin(), s.end());
  }
  EXPECT_EQ(all.size(), 6u);
}

TEST(RandomInits, SampleWindowsOverlapWhenThePointsRunShort) {
  // 4 x 5 = 20 >= 10 points: windows start at 0, 1, 2 and 3 (entries 1-5, 2-6, 3-7, 4-8).
  std::vector<std::set<int>> w = sample_windows(10, 4, 5);
  for (const auto &s : w) EXPECT_EQ(s.size(), 5u);
  for (int k = 0; k + 1 < 4; k++) EXPECT_EQ(shared(w[k], w[k + 1]), 4u) << k;
  EXPECT_EQ(shared(w[0], w[3]), 2u);

  // One point per class with as many classes as points: windows start at 0, 0 and 1.
  std::vector<std::set<int>> p = sample_windows(3, 3, 1, RANDOM_POINT);
  EXPECT_EQ(p[0], p[1]);
  EXPECT_NE(p[1], p[2]);
}

TEST(RandomInits, MoreSamplesThanPointsGiveTheCentroid) {
  one_based_matrix data({{1, 0}, {2, 4}, {6, 2}});
  one_based_matrix means(2, 2, unset);
  random_sample(data.get(), means.get(), 3, 2, 2, default_run_seed, 50);
  EXPECT_EQ(means.row(1), (std::vector<double>{3, 2}));
  EXPECT_EQ(means.row(2), (std::vector<double>{3, 2}));
}

TEST(RandomInits, SampleSizeBelowOneEndsTheRun) {
  one_based_matrix data({{1}, {2}});
  one_based_matrix means(2, 1, unset);
  for (int samples : {0, -3}) {
    call_outcome out = capture([&] { random_sample(data.get(), means.get(), 2, 1, 2, 1, samples); });
    EXPECT_EQ(out.exit_code, -1);
    EXPECT_NE(out.err.find("num_samples"), std::string::npos) << out.err;
    EXPECT_NE(out.err.find(std::to_string(samples)), std::string::npos) << out.err;
  }
}

TEST(InitDispatch, UnknownMethodLeavesTheMeans) {
  one_based_matrix data({{1}, {2}});
  one_based_matrix means({{7}, {8}});
  call_outcome out = capture([&] { init_means(data.get(), means.get(), 2, 1, 2, 9, 1, 1, nullptr); });
  EXPECT_EQ(out.err, "Unknown mean initializtion type: 9\n");
  EXPECT_EQ(out.exit_code, call_outcome::no_exit);
  EXPECT_EQ(means[1][1], 7.0);
  EXPECT_EQ(means[2][1], 8.0);
}
