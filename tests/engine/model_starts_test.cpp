// The starts of a whole model (options.init kmeans, kmeans_plus_plus, random_responsibilities,
// random_from_data): worked cases, and the same bits on any thread and process count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/kmeans.h"
#include "mogem/mogem.h"
#include "support/one_based.h"
#include "support/same_model.h"
#include "support/thread_processes.h"

namespace {

// The state word a run with random_seed 42 seeds the initializations' generator with.
constexpr int32_t default_run_seed = 806666144;

// Nine rows in three groups of three.
const std::vector<std::vector<double>> nine = {{0, 0},  {0, 1},   {1, 0},  {10, 10}, {10, 11},
                                               {11, 10}, {0, 10}, {1, 10}, {0, 11}};

mogem::model start_of(const std::vector<std::vector<double>> &rows, int classes, mogem::initialization init) {
  std::vector<double> values;
  for (const auto &row : rows) values.insert(values.end(), row.begin(), row.end());
  mogem::options o;
  o.classes = classes;
  o.init = init;
  o.max_iterations = 0;  // the model is the start
  return mogem::fit(view(values, rows[0].size()), o).model;
}

}  // namespace

// The worked values come from a few lines of Python run once (the generator x' = 0x5DEECE66D x
// + 0xB mod 2^48 from (806666144 << 16) | 0x330E, draws x / 2^48; D^2 sampling with 2 + floor(ln
// 3) = 3 candidates, the least potential kept): centre 2's candidates are rows 4, 3, 0 of
// potentials 287, 286, 326, centre 3's rows 1, 0, 1 of 7, 6, 7, so the centres are rows 6, 3, 0.
TEST(KMeans, GreedySeedingAndLloydOnAWorkedCase) {
  literal_matrix data(nine), centres(3, 2, -1.0);
  const row_share alone;
  const kmeans_rows rows{data.get(), 9, 2, 3, &alone, 1};
  rand48_stream random(default_run_seed);
  kmeans_plus_plus(rows, random, centres.get());
  EXPECT_EQ(centres.row(1), nine[6]);
  EXPECT_EQ(centres.row(2), nine[3]);
  EXPECT_EQ(centres.row(3), nine[0]);
  // The first iteration moves the centres to their groups' means and changes no label.
  std::vector<int> labels(10);
  EXPECT_EQ(lloyd(rows, centres.get(), labels.data(), 300), 1);
  EXPECT_EQ(labels, (std::vector<int>{0, 3, 3, 3, 2, 2, 2, 1, 1, 1}));
  EXPECT_EQ(centres.row(1), (std::vector<double>{1.0 / 3, 31.0 / 3}));
  EXPECT_EQ(centres.row(2), (std::vector<double>{31.0 / 3, 31.0 / 3}));
}

// The tolerance's scale is the mean feature variance (both features of `nine` have 202/9); a
// start of three centres in one group takes Lloyd several iterations with tol 0, and one when
// any move is small enough.
TEST(KMeans, ToleranceEndsLloydOnTheCentresMove) {
  literal_matrix data(nine);
  const row_share alone;
  const kmeans_rows rows{data.get(), 9, 2, 3, &alone, 1};
  EXPECT_NEAR(mean_feature_variance(rows), 202.0 / 9, 1e-13);
  std::vector<int> iterations;
  for (double tol : {0.0, 1e9}) {
    literal_matrix centres({nine[0], nine[1], nine[2]});
    std::vector<int> labels(10);
    iterations.push_back(lloyd(rows, centres.get(), labels.data(), 300, tol));
  }
  EXPECT_GT(iterations[0], 1);
  EXPECT_EQ(iterations[1], 1);
}

// Each start as the fit's model before any EM step.
TEST(ModelStarts, EachStartOnAWorkedCase) {
  // k-means and the k-means++ centres' classes: each group's weight, mean and variances.
  for (auto init : {mogem::initialization::kmeans, mogem::initialization::kmeans_plus_plus}) {
    const mogem::model m = start_of(nine, 3, init);
    EXPECT_EQ(m.weights, (std::vector<double>(3, 1.0 / 3)));
    const double means[] = {1.0 / 3, 31.0 / 3, 31.0 / 3, 31.0 / 3, 1.0 / 3, 1.0 / 3};
    for (int e = 0; e < 6; e++) EXPECT_NEAR(m.means[e], means[e], 1e-14);
    for (double v : m.covariances) EXPECT_NEAR(v, 2.0 / 9, 1e-13);
  }
  // Six rows; the values from the same Python lines: each row's two draws over their sum, then
  // the weighted means and variances.
  const std::vector<std::vector<double>> six(nine.begin(), nine.begin() + 6);
  const mogem::model r = start_of(six, 2, mogem::initialization::random_responsibilities);
  const double weights[] = {0.68209237362539821, 0.31790762637460179};
  const double means[] = {4.9126391171978812, 4.9792553379758191, 6.2359613065175337, 6.0930316867705816};
  const double variances[] = {24.878371224833547, 25.283808512798505, 24.765510232283123, 24.243950600587819};
  for (int e = 0; e < 2; e++) EXPECT_NEAR(r.weights[e], weights[e], 1e-15);
  for (int e = 0; e < 4; e++) EXPECT_NEAR(r.means[e], means[e], 1e-13);
  for (int e = 0; e < 4; e++) EXPECT_NEAR(r.covariances[e], variances[e], 1e-12);
  // Rows 4 and 3 (the first two draws fall on different rows); the variances are the squared
  // distance to the other mean, the weights equal.
  const mogem::model d = start_of(six, 2, mogem::initialization::random_from_data);
  EXPECT_EQ(d.means, (std::vector<double>{10, 11, 10, 10}));
  EXPECT_EQ(d.covariances, (std::vector<double>{1, 1, 1, 1}));
  EXPECT_EQ(d.weights, (std::vector<double>{0.5, 0.5}));
}

// Two distinct rows for three classes: the third centre repeats one, its class gets no rows and
// keeps a finite model of weight 0 through the fit (its own spherical covariance, 1 as its
// centre coincides with another; a shared covariance stays the classes' pooled one).
TEST(ModelStarts, AClassWithoutRowsGetsWeightZeroAndASaneCovariance) {
  const std::vector<double> values = {0, 0, 0, 0, 0, 0, 5, 5, 5, 5, 5, 5};
  for (auto kind : {mogem::covariance_kind::full, mogem::covariance_kind::tied}) {
    mogem::options o;
    o.classes = 3;
    o.init = mogem::initialization::kmeans;
    o.covariance = kind;
    o.max_iterations = 5;
    o.reg_covar = 1e-6;
    const mogem::model m = mogem::fit(view(values, 2), o).model;
    const auto empty = std::find(m.weights.begin(), m.weights.end(), 0.0);
    ASSERT_NE(empty, m.weights.end());
    EXPECT_EQ(std::count(m.weights.begin(), m.weights.end(), 0.0), 1);
    const int k = static_cast<int>(empty - m.weights.begin());
    const double expected = kind == mogem::covariance_kind::full ? 1.0 : 0.001 + 1e-6;
    EXPECT_EQ(m.covariance(k, 0, 0), expected);
    EXPECT_EQ(m.covariance(k, 0, 1), 0.0);
    for (double v : m.means) EXPECT_TRUE(std::isfinite(v));
  }
}

// Every start gives the same bits on 1, 2 and 3 threads and over 3 processes (threads of one
// process here, holding 7, 11,993 and 18,000 rows), and restarts draw other starts.
TEST(ModelStarts, SameBitsOnAnyThreadAndProcessCountAndOtherStartsPerRestart) {
  const std::size_t rows = 30000, cols = 6;
  const std::vector<double> values = four_groups(rows, cols, 29, 3.0);
  const struct {
    mogem::initialization init;
    mogem::covariance_kind kind;
    bool correlation;
    double kmeans_tol = 0.0;
  } settings[] = {
      {mogem::initialization::kmeans, mogem::covariance_kind::full, false},
      {mogem::initialization::kmeans, mogem::covariance_kind::diagonal, true},
      {mogem::initialization::kmeans, mogem::covariance_kind::tied, false, 1e-4},
      {mogem::initialization::kmeans_plus_plus, mogem::covariance_kind::scalar, false},
      {mogem::initialization::random_responsibilities, mogem::covariance_kind::diagonal, false},
      {mogem::initialization::random_from_data, mogem::covariance_kind::full, false},
  };
  const std::vector<std::size_t> starts = {0, 7, 12000};
  for (const auto &s : settings) {
    SCOPED_TRACE(static_cast<int>(s.init));
    mogem::options o;
    o.classes = 4;
    o.init = s.init;
    o.covariance = s.kind;
    o.distance = s.correlation ? mogem::metric::correlation : mogem::metric::euclidean;
    o.center = s.correlation;
    o.kmeans_tol = s.kmeans_tol;
    o.max_iterations = 3;
    o.threads = 1;
    const mogem::fit_result alone = mogem::fit(view(values, cols), o);
    for (int threads : {2, 3}) {
      o.threads = threads;
      EXPECT_TRUE(same_model(mogem::fit(view(values, cols), o), alone)) << threads << " threads";
    }
    const std::vector<mogem::fit_result> shared =
        over_shares(values, cols, starts, [&](const double *mine, std::size_t n, const mogem::callbacks &hooks) {
          return mogem::fit({mine, n, cols}, o, hooks);
        });
    for (std::size_t r = 0; r < starts.size(); r++) {
      const std::size_t first = starts[r];
      EXPECT_TRUE(same_model(shared[r].model, alone.model)) << "process " << r;
      EXPECT_TRUE(std::equal(shared[r].labels.begin(), shared[r].labels.end(), alone.labels.begin() + first));
    }
    o.restarts = 2;
    const mogem::fit_result restarted = mogem::fit(view(values, cols), o);
    ASSERT_EQ(restarted.restarts.size(), 2u);
    EXPECT_NE(restarted.restarts[0].log_likelihood, restarted.restarts[1].log_likelihood);
  }
}
