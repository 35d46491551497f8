#include "distances/dist_metrics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/one_based.h"

using namespace mogem::detail;

namespace {

double dist(std::vector<double> a, std::vector<double> b, int type) {
  literal_vector x(a), y(b);
  return distance(x.get(), y.get(), static_cast<int>(a.size()), type);
}

}  // namespace

TEST(Metrics, HandWorkedDistances) {
  const struct {
    std::vector<double> a, b;
    int type;
    double expected;
  } cases[] = {
      {{0, 0}, {3, 4}, EUCLIDEAN, 5.0},  // the 3-4-5 triangle
      {{0, 0}, {3, 4}, EUCLIDEAN_SQUARED, 25.0},
      {{1, 2}, {3, 0}, CANBERRA, 1.5},   // |1-3|/4 + |2-0|/2
      {{0, 1}, {0, -1}, CANBERRA, 1.0},  // the first term has denominator 0 and is skipped
      {{1, 0}, {0, 1}, CORRELATION, 1.0},
      {{1, 1}, {-1, -1}, CORRELATION, 2.0},
      {{1, 1}, {1, 3}, CORRELATION, 1 - 4.0 / (std::sqrt(2.0) * std::sqrt(10.0))},  // uncentred: not 0
  };
  for (const auto &c : cases) EXPECT_NEAR(dist(c.a, c.b, c.type), c.expected, 1e-15) << c.type << " " << c.expected;
  for (int type : {EUCLIDEAN, EUCLIDEAN_SQUARED, CANBERRA})
    EXPECT_EQ(dist({0.1, 0.0, -7.25, 1e300}, {0.1, 0.0, -7.25, 1e300}, type), 0.0) << type;
  // A zero vector has no direction.
  EXPECT_TRUE(std::isnan(dist({0, 0}, {1, 2}, CORRELATION)));
  EXPECT_TRUE(std::isnan(dist({}, {}, CORRELATION)));
}

TEST(Metrics, OneToManyFormsMeasureEveryRowAndUnknownCodesGiveZero) {
  literal_vector origin({0, 0}), x({1, 0});
  literal_matrix rows({{3, 4}, {6, 8}, {0, 1}});
  double out[4] = {0, 0, 0, 0};
  distance2(origin.get(), rows.get(), 2, 3, out, EUCLIDEAN);
  EXPECT_EQ(std::vector<double>(out + 1, out + 4), (std::vector<double>{5, 10, 1}));
  distance2(x.get(), rows.get(), 2, 3, out, CANBERRA);
  EXPECT_EQ(out[3], 2.0);  // (1, 0) to (0, 1): 1 + 1
  EXPECT_EQ(out[0], 0.0);  // element 0 is never written

  call_outcome c = capture([&] { distance2(x.get(), rows.get(), 2, 3, out, -4); });
  EXPECT_EQ(c.err, "Unknown distance metric: -4\nUnknown distance metric: -4\nUnknown distance metric: -4\n");
  EXPECT_EQ(std::vector<double>(out + 1, out + 4), (std::vector<double>{0, 0, 0}));  // each row through distance()
  EXPECT_EQ(c.exit_code, call_outcome::no_exit);
}

// Names match by prefix, ignoring case.
TEST(Metrics, NamesMatchByPrefixIgnoringCase) {
  const std::pair<const char *, int> names[] = {
      {"euclidean", EUCLIDEAN},     {"Euclidean", EUCLIDEAN}, {"EUCLIDEAN_SQUARED", EUCLIDEAN_SQUARED},
      {"correlation_centered", CORRELATION}, {"canberra", CANBERRA}, {"CanberraX", CANBERRA},
      {"euclid", -1},               {"", -1},                 {"manhattan", -1}};
  for (const auto &[name, code] : names) EXPECT_EQ(find_metric(name), code) << name;
}
