#include "initializations/init_means.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

namespace {

constexpr double unset = -12345.0;

// The seed a run with the default random_seed 42 hands to the initializations.
constexpr int32_t default_run_seed = 806666144;

// Means of one feature per class, as init_means leaves them.
std::vector<double> means_of(const std::vector<std::vector<double>> &rows, int classes, int method, int samples = 0) {
  literal_matrix data(rows), means(classes, 1, unset);
  init_means(data.get(), means.get(), static_cast<int>(rows.size()), 1, classes, method, default_run_seed, samples,
             nullptr);
  std::vector<double> out;
  for (int k = 1; k <= classes; k++) out.push_back(means[k][1]);
  return out;
}

}  // namespace

TEST(RandomInits, EdgesOfTheClassSizesAndWindows) {
  // With 7 points and 3 classes the classes hold 3, 2 and 2 points whatever the swaps do;
  // all points at 6 makes each class mean 6 only if each count matches its class.
  EXPECT_EQ(means_of(std::vector<std::vector<double>>(7, {6.0}), 3, RANDOM_MEANS), (std::vector<double>{6, 6, 6}));
  // One point per class with as many classes as points: windows start at 0, 0 and 1.
  std::vector<double> p = means_of({{2}, {4}, {8}}, 3, RANDOM_POINT, 1);
  EXPECT_EQ(p[0], p[1]);
  EXPECT_NE(p[1], p[2]);
}

TEST(ChurchMeans, TiesGoToTheLowerIndexAndDuplicatesMayBeChosen) {
  // The centroid is the origin; points 2 to 5 all lie 5 from it; 4 and 5 repeat 2 and 3.
  literal_matrix data({{0, 0}, {-5, 0}, {5, 0}, {-5, 0}, {5, 0}});
  literal_matrix means(4, 2, unset);
  church_means(data.get(), means.get(), 5, 2, 4);
  EXPECT_EQ(means.row(1), (std::vector<double>{0, 0}));
  EXPECT_EQ(means.row(2), (std::vector<double>{-5, 0}));  // point 2, lowest of four ties
  EXPECT_EQ(means.row(3), (std::vector<double>{5, 0}));   // point 3 ties point 5 at 5 + 10
  // Points 4 and 5 now both score 15, point 1 only 10: point 4, equal in value to the chosen
  // point 2, is chosen, since points are excluded by index, not by value.
  EXPECT_EQ(means.row(4), (std::vector<double>{-5, 0}));
}

TEST(ChurchMeans, NoNumericScoreEndsTheRun) {
  literal_matrix data({{NAN, 1}, {2, NAN}, {NAN, NAN}});
  literal_matrix means(2, 2, unset);
  call_outcome out = capture([&] { church_means(data.get(), means.get(), 3, 2, 2); });
  EXPECT_EQ(out.exit_code, -1);
  EXPECT_NE(out.err.find("church means"), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("class 2"), std::string::npos) << out.err;
}
