// The library's fit and prediction as a program calls them (mogem/mogem.h).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mogem/mogem.h"

namespace {

// Three groups in four features, 300 rows.
std::vector<double> three_groups() {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  std::vector<double> values;
  for (int i = 0; i < 300; i++)
    for (int j = 0; j < 4; j++) values.push_back(normal(rng) + 4.0 * (i % 3) + (j == i % 4 ? 1.0 : 0.0));
  return values;
}

mogem::matrix_view view(const std::vector<double> &values, std::size_t cols) {
  return {values.data(), values.size() / cols, cols};
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

bool same_model(const mogem::model &a, const mogem::model &b) {
  return same_bits(a.weights, b.weights) && same_bits(a.means, b.means) && same_bits(a.covariances, b.covariances) &&
         same_bits(a.posteriors, b.posteriors) && a.labels == b.labels && a.steps == b.steps;
}

mogem::options settings(mogem::covariance_kind kind, mogem::initialization init, int seed) {
  mogem::options o;
  o.classes = 3;
  o.covariance = kind;
  o.init = init;
  o.random_seed = seed;
  o.max_iterations = 30;
  return o;
}

// The message of the error a call throws, and its kind.
template <typename Call>
std::string refusal(Call call, mogem::error::kind *kind = nullptr) {
  try {
    call();
  } catch (const mogem::error &e) {
    if (kind) *kind = e.what_kind();
    return e.what();
  }
  return "(no error)";
}

}  // namespace

// Each fit carries its own random streams and thread count: fits on two threads at once give
// what they give one after the other.
TEST(Fit, TwoFitsAtOnceEqualTheSameFitsInTurn) {
  const std::vector<double> data = three_groups();
  const mogem::options a = settings(mogem::covariance_kind::full, mogem::initialization::random_means, 7);
  mogem::options b = settings(mogem::covariance_kind::diagonal, mogem::initialization::random_range, 11);
  b.method = mogem::algorithm::annealing;
  b.threads = 2;
  const mogem::model alone_a = mogem::fit(view(data, 4), a), alone_b = mogem::fit(view(data, 4), b);
  for (int round = 0; round < 5; round++) {
    mogem::model together_a, together_b;
    std::thread other([&] { together_b = mogem::fit(view(data, 4), b); });
    together_a = mogem::fit(view(data, 4), a);
    other.join();
    EXPECT_TRUE(same_model(together_a, alone_a)) << round;
    EXPECT_TRUE(same_model(together_b, alone_b)) << round;
  }
}

// The transformations work on a copy unless the caller hands its buffer over; the results are
// the same bits, and predicting the training rows gives the fit's final posteriors.
TEST(Fit, CopyInPlaceAndPredictionAgreeBitForBit) {
  const std::vector<double> data = three_groups();
  for (mogem::covariance_kind kind :
       {mogem::covariance_kind::scalar, mogem::covariance_kind::diagonal, mogem::covariance_kind::full}) {
    for (int variant = 0; variant < 4; variant++) {
      mogem::options o = settings(kind, mogem::initialization::church_means, 42);
      o.distance = variant & 1 ? mogem::metric::correlation : mogem::metric::euclidean;
      o.center = (variant & 2) != 0;
      if (variant == 3) o.method = mogem::algorithm::annealing;
      const mogem::model copied = mogem::fit(view(data, 4), o);
      std::vector<double> buffer = data;
      const mogem::model in_place = mogem::fit_in_place(buffer.data(), 300, 4, o);
      EXPECT_TRUE(same_model(copied, in_place)) << variant;
      EXPECT_EQ(buffer != data, o.center || o.distance == mogem::metric::correlation) << variant;
      EXPECT_EQ(copied.centre.size(), o.center ? 4u : 0u);
      EXPECT_TRUE(same_bits(mogem::predict_proba(copied, view(data, 4), 3), copied.posteriors)) << variant;
      const std::vector<int> labels = mogem::predict(copied, view(data, 4));
      for (std::size_t i = 0; i < 300; i++) {
        int best = 0;
        for (int k = 1; k < 3; k++)
          if (copied.posteriors[k * 300 + i] > copied.posteriors[best * 300 + i]) best = k;
        ASSERT_EQ(labels[i], best) << "row " << i;
      }
    }
  }
}

TEST(Fit, NoticesAndSnapshotsReachTheCallbacks) {
  const std::vector<double> data = {1, 2, 3};
  mogem::options o;
  o.classes = 5;
  o.max_iterations = 4;
  o.snapshot_every = 2;
  std::vector<std::string> warnings;
  std::vector<int> snapshot_steps, progress_steps;
  mogem::callbacks hooks;
  hooks.warning = [&](const std::string &w) { warnings.push_back(w); };
  hooks.on_snapshot = [&](const mogem::snapshot &s) { snapshot_steps.push_back(s.step); };
  hooks.on_progress = [&](const mogem::progress &p) { progress_steps.push_back(p.step); };
  const mogem::model m = mogem::fit(view(data, 1), o, hooks);
  EXPECT_EQ(warnings, std::vector<std::string>{"WARNING: Number of classes exceeds datapoints. Adjusting"});
  EXPECT_EQ(m.classes, 3);
  EXPECT_EQ(progress_steps.size(), static_cast<std::size_t>(m.steps));
  EXPECT_EQ(snapshot_steps.front(), 0);
  // A callback's exception ends the fit and reaches the caller.
  hooks.on_snapshot = [](const mogem::snapshot &) { throw std::runtime_error("stop"); };
  EXPECT_THROW(mogem::fit(view(data, 1), o, hooks), std::runtime_error);
}

TEST(Fit, RefusalsNameWhatIsWrong) {
  const std::vector<double> data = three_groups();
  std::vector<double> holed = data;
  holed[4 * 7 + 2] = std::nan("");
  mogem::options o = settings(mogem::covariance_kind::diagonal, mogem::initialization::church_means, 1);
  mogem::error::kind kind = mogem::error::kind::write_failure;
  EXPECT_EQ(refusal([&] { mogem::fit(view(holed, 4), o); }, &kind),
            "Error: the data hold a NaN at row 8, column 3; every value must be a finite number");
  EXPECT_EQ(kind, mogem::error::kind::invalid_input);
  EXPECT_EQ(refusal([&] { mogem::fit({data.data(), 0, 4}, o); }),
            "Error: the data hold 0 rows of 4 values; at least one row of one value is needed");
  o.init = mogem::initialization::means_file;
  o.means_file = "/nonexistent/means";
  EXPECT_EQ(refusal([&] { mogem::fit(view(data, 4), o); }), "Could not open file /nonexistent/means");
  o.init = mogem::initialization::church_means;
  o.method = mogem::algorithm::mixture_of_t;
  EXPECT_NE(refusal([&] { mogem::fit(view(data, 4), o); }).find("em_mixture_of_t"), std::string::npos);

  // Duplicate points leave a full covariance that cannot be factorised: a numerical failure.
  const std::vector<double> same(20, 1.0);
  mogem::options full = settings(mogem::covariance_kind::full, mogem::initialization::church_means, 1);
  full.classes = 2;
  EXPECT_EQ(refusal([&] { mogem::fit(view(same, 2), full); }, &kind), "Singular matrix in routine NR_dludcmp");
  EXPECT_EQ(kind, mogem::error::kind::numerical_failure);

  const mogem::model fitted = mogem::fit(view(data, 4), settings(mogem::covariance_kind::scalar,
                                                                  mogem::initialization::church_means, 1));
  EXPECT_EQ(refusal([&] { mogem::predict(fitted, view(data, 2)); }),
            "Error: the rows to predict have 2 features; the model was fitted to 4");
}
