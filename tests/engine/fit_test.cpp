// The library's fit, prediction, statistics, restarts and regularisation as a program calls
// them (mogem/mogem.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/same_model.h"
#include "support/run_binary.h"

namespace {

const std::vector<double> six_points = {0.0, 0.0, 0.5, 0.2, 0.1, 0.6, 5.0, 5.0, 5.4, 4.8, 4.9, 5.5};

// Three groups in four features, 300 rows.
std::vector<double> three_groups() {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  std::vector<double> values;
  for (int i = 0; i < 300; i++)
    for (int j = 0; j < 4; j++) values.push_back(normal(rng) + 4.0 * (i % 3) + (j == i % 4 ? 1.0 : 0.0));
  return values;
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

const mogem::covariance_kind every_kind[] = {mogem::covariance_kind::scalar, mogem::covariance_kind::diagonal,
                                             mogem::covariance_kind::full};

// A breakdown's remedy in the parameter file's words (the library's: failures_test.cpp).
const std::string in_file_remedy =
    "choose other initial means (another init_method or random_seed), fewer classes, or data on a scale whose "
    "squared distances stay finite";
const std::string breakdown = "the fit broke down at EM step 0: the mixture weights became not-a-number; " + in_file_remedy;

}  // namespace

// The transformations work on a copy unless the caller hands its buffer over; the results are
// the same bits, predicting the training rows gives the fit's final posteriors, and every step
// is reported. (The statistics are held to SciPy's densities, every kind and metric, in
// tests/python/test_statistics.py.)
TEST(Fit, CopyInPlaceAndPredictionAgree) {
  const std::vector<double> data = three_groups();
  for (mogem::covariance_kind kind : every_kind) {
    for (int variant = 0; variant < 4; variant++) {
      mogem::options o = settings(kind, mogem::initialization::church_means, 42);
      o.distance = variant & 1 ? mogem::metric::correlation : mogem::metric::euclidean;
      o.center = (variant & 2) != 0;
      if (variant == 3) o.method = mogem::algorithm::annealing;
      int progress = 0;
      mogem::callbacks hooks;
      hooks.on_progress = [&](const mogem::progress &) { progress++; };
      const mogem::fit_result copied = mogem::fit(view(data, 4), o, hooks);
      EXPECT_EQ(progress, copied.model.steps) << variant;
      std::vector<double> buffer = data;
      const mogem::fit_result in_place = mogem::fit_in_place(buffer.data(), 300, 4, o);
      EXPECT_TRUE(same_model(copied, in_place)) << variant;
      EXPECT_EQ(buffer != data, o.center || o.distance == mogem::metric::correlation) << variant;
      EXPECT_EQ(copied.model.centre.size(), o.center ? 4u : 0u);
      // (That predict labels each row by its largest posterior the installed consumer checks.)
      EXPECT_TRUE(same_bits(mogem::predict_proba(copied.model, view(data, 4), 3), copied.posteriors)) << variant;
    }
  }
}

// Every refusal of a fit, with its message and its kind. Fits that break down are refused, not
// reported as a success with every row in class 1. A message about a setting names the options
// field; the program's words (in_file) name its key, and the program adds its "Error: " itself.
TEST(Fit, RefusesWhatCannotBeFitted) {
  scratch_dir dir;
  dir.write("short.means", "0 0\n5\n");
  mogem::model three_classes;
  three_classes.classes = 3;
  three_classes.features = 2;
  const std::string annealing_text =
      " would never cool to 1; schedule_scalar must lie strictly between 0 and 1 when init_temp is above 1, and "
      "init_temp must be a finite number";
  using kind = mogem::error::kind;
  using init = mogem::initialization;
  using algorithm = mogem::algorithm;
  const struct {
    std::function<void(mogem::options &, std::vector<double> &)> change;
    std::string message;
    kind what = kind::invalid_input;
    std::string in_file = "";  // when the program words it otherwise
  } cases[] = {
      {[](auto &o, auto &) { o.classes = 0; }, "classes is 0; it must be at least 1",
       kind::invalid_input, "the number of classes is 0; it must be at least 1"},
      {[](auto &o, auto &) { o.restarts = 2; },
       "restarts is 2, but this initialization draws no random numbers, so every restart would give the same fit; "
       "choose init random_means, random_point, random_range or random_sample, or restarts 1",
       kind::invalid_input,
       "num_restarts is 2, but this initialization draws no random numbers, so every restart would give the same "
       "fit; choose random_means, random_point, random_range or random_sample, or num_restarts 1"},
      {[&](auto &o, auto &) {
         o.init = init::saved_model;
         o.start = std::make_shared<const mogem::model>(three_classes);
       },
       "the starting model has 3 classes; the fit asks for 2 (classes)", kind::invalid_input,
       "the starting model has 3 classes; the fit asks for 2 (num_clusters)"},
      {[](auto &o, auto &) { o.init = init::saved_model; },
       "init saved_model needs a model to start from (start)", kind::invalid_input,
       "init_method model needs a model to start from (init_model)"},
      // The check comes before any kind, metric or algorithm plays a part.
      {[](auto &, auto &d) { d[5] = NAN; },
       "the data of points.txt hold a NaN at row 3, column 2; every value must be a finite number (a NaN is a missing "
       "value, fitted on the row's observed values, only under options.missing = em)",
       kind::invalid_input,
       "the data of points.txt hold a NaN at row 3, column 2; every value must be a finite number (nan is a missing "
       "value, fitted on the row's observed values, only under missing_values em)"},
      {[](auto &, auto &d) { d[10] = -HUGE_VAL; },
       "the data of points.txt hold an infinite value at row 6, column 1; every value must be a finite number"},
      {[](auto &, auto &d) { d.clear(); },
       "the data hold 0 rows of 2 values; at least one row of one value is needed"},
      {[](auto &o, auto &) { o.method = algorithm::mixture_of_t; },
       "the algorithm em_mixture_of_t (EM for a mixture of t distributions) is not available; choose em or "
       "em_annealing"},
      {[](auto &o, auto &) { o.init = init::random_sample; },
       "the random_sample initialization needs num_samples of at least 1 (it is 0); set num_samples in the "
       "parameter file"},
      {[&](auto &o, auto &) { o.init = init::means_file; o.start = mogem::means_file_start{dir.path("short.means")}; },
       "the means file " + dir.path("short.means") +
           " holds 3 readable numbers; 4 are needed (2 classes x 2 features)"},
      {[](auto &o, auto &) { o.init = init::given_means; o.start = std::vector<double>{0, 0, 5}; },
       "the initial means hold 3 values; 4 are needed (2 classes x 2 features)"},
      {[](auto &o, auto &) { o.init = init::given_means; o.start = std::vector<double>{0, 0, 5, NAN}; },
       "the initial mean of class 2, feature 2 is not a finite number"},
      {[](auto &o, auto &) { o.method = algorithm::annealing; o.init_temp = 3; o.schedule_scalar = 1; },
       "annealing from init_temp 3 with schedule_scalar 1" + annealing_text},
      {[](auto &o, auto &) { o.method = algorithm::annealing; o.init_temp = HUGE_VAL; },
       "annealing from init_temp inf with schedule_scalar 0.9" + annealing_text},
      {[](auto &o, auto &) { o.method = algorithm::annealing; o.covariance = mogem::covariance_kind::tied; },
       "annealing (method annealing) splits the widest class as it cools, and tied classes share one covariance; "
       "use method em with covariance tied, or another covariance kind with annealing",
       kind::invalid_input,
       "annealing (algorithm em_annealing) splits the widest class as it cools, and tied classes share one "
       "covariance; use algorithm em with em_type tied, or another covariance kind with annealing"},
      // A start below 1 passes that check; a factor of 4 warms it past 1 at the first cooling.
      {[](auto &o, auto &) { o.method = algorithm::annealing; o.init_temp = 0.5; o.schedule_scalar = 4; },
       "annealing from init_temp 0.5 with schedule_scalar 4 warmed to 2 and would never cool to 1; "
       "schedule_scalar must lie strictly between 0 and 1"},
      // The correlation metric scales every row to unit length; centred first, the row that
      // equals the column means is the one without length.
      {[](auto &o, auto &d) {
         o.distance = mogem::metric::correlation;
         d[0] = 1, d[2] = d[3] = 0;  // row 1 gets a length, row 2 loses its own
       },
       "row 2 of the data of points.txt has length zero; the correlation metric scales every row to unit "
       "length and cannot scale this one: remove the row or choose distance_metric euclidean"},
      {[](auto &o, auto &d) { o.distance = mogem::metric::correlation; o.center = true; d = {1, 1, 2, 2, 3, 3}; },
       "@row 2 of the data of points.txt has length zero once centred"},
      // Every point alike: both initial means coincide, their variance is 0. Without a step the
      // final posteriors are the first to break down (with steps: DegenerateData).
      {[](auto &o, auto &d) { o.max_iterations = 0; d.assign(6, 2.0); },
       "@in the final E-step", kind::breakdown,
       "the fit broke down in the final E-step: the posteriors of class 1 became not-a-number; " + in_file_remedy},
  };
  for (const auto &c : cases) {
    mogem::options o;
    o.classes = 2;
    o.max_iterations = 5;
    o.data_name = "points.txt";
    std::vector<double> data = six_points;
    c.change(o, data);
    const mogem::error e = error_of([&] { mogem::fit({data.data(), data.size() / 2, 2}, o); });
    const std::string message = e.what();
    EXPECT_EQ(e.what_kind(), c.what) << c.message;
    // "@text": the message holds text; otherwise it is the message.
    EXPECT_TRUE(c.message[0] == '@' ? message.find(c.message.substr(1)) != std::string::npos : message == c.message)
        << message;
    EXPECT_EQ(e.in_file_terms(), c.in_file.empty() ? message : c.in_file);
    EXPECT_TRUE(c.in_file.empty() || !e.setting().empty()) << c.message;
    EXPECT_EQ(e.has_own_heading(), c.what == kind::numerical_failure) << c.message;
  }
}

TEST(Fit, PredictionRefusals) {
  const std::vector<double> data = three_groups();
  const mogem::model fitted =
      mogem::fit(view(data, 4), settings(mogem::covariance_kind::scalar, mogem::initialization::church_means, 1)).model;
  EXPECT_STREQ(error_of([&] { mogem::predict(fitted, view(data, 2)); }).what(),
               "the rows to predict have 2 features; the model was fitted to 4");
  std::vector<double> holed = data;
  holed[5] = std::nan("");
  EXPECT_STREQ(error_of([&] { mogem::predict(fitted, view(holed, 4)); }).what(),
               "the rows to predict hold a NaN at row 2, column 2; every value must be a finite number (a NaN is a "
               "missing value, fitted on the row's observed values, only under options.missing = em)");
}

// Data no model of a kind can fit: each ends with its labels and model, or with the failure of
// the factorisation or the breakdown of the fit, and nothing in between.
TEST(Fit, DegenerateData) {
  std::vector<double> huge, tiny;  // squared distances that overflow (1e300) or underflow (1e-300)
  for (double v : {1.0, 2.0, 1.5, 3.0, -1.0, 0.0, 5.0, 1.0}) {
    huge.push_back(v * 1e300);
    tiny.push_back(v * 1e-300);
  }
  const struct {
    std::vector<double> data;
    std::size_t cols;
    int classes;
    std::vector<int> labels;    // of a fit that succeeds; none: the fit breaks down
    std::vector<double> means;  // when given, every variance is at the floor too
    std::string full_failure;   // when not empty, the end of a full-covariance fit
  } cases[] = {
      // Constant data hold the variance floor under every kind.
      {std::vector<double>(8, 3.0), 2, 1, {0, 0, 0, 0}, {3.0, 3.0}, ""},
      // As many classes as points: under scalar and diagonal variances each point gets a class of
      // its own. A full covariance shrinks onto its point: only its diagonal is floored, the
      // off-diagonal terms of the other points' tiny posteriors remain, and the matrix stops
      // being positive definite.
      {{0, 0, 10, 1, 3, 9}, 2, 3, {0, 1, 2}, {}, "NR_dcholdc failed"},
      // Infinite or zero initial variances (zero too when every point is alike and the initial
      // means coincide): the models become not-a-number at the first step; a full covariance of
      // zeros cannot be decomposed.
      {huge, 2, 2, {}, {}, ""},
      {tiny, 2, 2, {}, {}, "Singular matrix in routine NR_dludcmp"},
      {std::vector<double>(12, 2.0), 2, 2, {}, {}, "Singular matrix in routine NR_dludcmp"},
      {{4.5}, 1, 1, {0}, {4.5}, ""},
  };
  for (const auto &c : cases)
    for (mogem::covariance_kind kind : every_kind) {
      mogem::options o = settings(kind, mogem::initialization::church_means, 42);
      o.classes = c.classes;
      o.max_iterations = 20;
      const bool fails = kind == mogem::covariance_kind::full && !c.full_failure.empty();
      const bool breaks = !fails && c.labels.empty();
      SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + ", case " + std::to_string(&c - cases));
      try {
        const mogem::fit_result r = mogem::fit(view(c.data, c.cols), o);
        EXPECT_FALSE(fails || breaks);
        EXPECT_EQ(r.labels, c.labels);
        for (std::size_t j = 0; j < c.means.size(); j++) {
          EXPECT_EQ(r.model.means[j], c.means[j]);
          EXPECT_EQ(r.model.covariance(0, j, j), 0.001);
        }
      } catch (const mogem::error &e) {
        EXPECT_TRUE(fails || breaks) << e.what();
        EXPECT_EQ(e.what_kind(), fails ? mogem::error::kind::numerical_failure : mogem::error::kind::breakdown);
        EXPECT_EQ(e.has_own_heading(), fails);
        EXPECT_EQ(e.in_file_terms(), fails ? c.full_failure : breakdown);
      }
    }
  // A floor of 0 lets a variance below 0.001 be; another floor holds it.
  const std::vector<double> close = {0.0, 0.02};
  for (mogem::covariance_kind kind : every_kind)
    for (double floor : {0.0, 0.5}) {
      mogem::options o = settings(kind, mogem::initialization::church_means, 42);
      o.classes = 1;
      o.variance_floor = floor;
      const double variance = mogem::fit(view(close, 1), o).model.covariance(0, 0, 0);
      EXPECT_NEAR(variance, floor == 0.0 ? 1e-4 : floor, 1e-15) << floor;
    }
}

// Restart 1 is the plain fit; restart r alone, rerun with its seed, gives the same model; the
// best log-likelihood is kept; a restart that breaks down is recorded and the others go on.
TEST(Restarts, KeepTheBestAndRecordEveryFit) {
  const std::vector<double> data = three_groups();
  mogem::options o = settings(mogem::covariance_kind::diagonal, mogem::initialization::random_point, 9);
  const mogem::model single = mogem::fit(view(data, 4), o).model;
  o.restarts = 4;
  o.threads = 2;
  const mogem::fit_result best = mogem::fit(view(data, 4), o);
  ASSERT_EQ(best.restarts.size(), 4u);
  EXPECT_EQ(best.restarts[0].seed, 9);
  EXPECT_EQ(best.restarts[0].log_likelihood, single.statistics.log_likelihood);
  int chosen = 1;
  for (const mogem::restart_record &r : best.restarts)
    if (r.log_likelihood > best.restarts[chosen - 1].log_likelihood) chosen = r.restart;
  EXPECT_EQ(best.chosen_restart, chosen);
  mogem::options again = o;
  again.restarts = 1;
  again.threads = 1;
  again.random_seed = best.restarts[chosen - 1].seed;
  EXPECT_TRUE(same_model(mogem::fit(view(data, 4), again), best));

  // Ten equal rows and three others: a random pick of two equal rows breaks the fit down.
  std::vector<double> ties(20, 0.0);
  for (double v : {5.0, 5.0, 6.0, 6.0, 9.0, 1.0}) ties.push_back(v);
  mogem::options scalar = settings(mogem::covariance_kind::scalar, mogem::initialization::random_point, 42);
  scalar.classes = 2;
  scalar.restarts = 3;
  const mogem::fit_result survived = mogem::fit(view(ties, 2), scalar);
  EXPECT_TRUE(survived.restarts[0].failed);
  EXPECT_EQ(survived.restarts[0].failure_in_file_terms.rfind(breakdown, 0), 0u) << survived.restarts[0].failure;
  EXPECT_FALSE(survived.restarts[1].failed);
  EXPECT_EQ(survived.chosen_restart, 2);
}

namespace {

// The 150 rows of examples/iris.txt (4 features), times `scale`.
std::vector<double> iris(double scale) {
  const std::string text = source_file("examples/iris.txt");
  std::istringstream rows(text.substr(text.find("begin data") + 10));
  std::vector<double> values;
  for (double v; rows >> v;) values.push_back(v * scale);
  return values;
}

}  // namespace

// Under stop_rule loglik EM stops at the first step whose mean log-likelihood per row (of the
// model the step starts from) lies within tol of the step before's: worked out from fits cut
// short at every step count, whose statistics are those models'. On iris (diagonal, church
// means) the weight rule runs 114 steps, the log-likelihood rule (tol 1e-3) 10.
TEST(StopRule, LoglikStopsWhereTheMeanLogLikelihoodSettles) {
  const std::vector<double> data = iris(1.0);
  mogem::options o = settings(mogem::covariance_kind::diagonal, mogem::initialization::church_means, 42);
  o.max_iterations = 500;
  const mogem::model by_weights = mogem::fit(view(data, 4), o).model;
  o.stop = mogem::stop_rule::loglik;
  const mogem::fit_result by_loglik = mogem::fit(view(data, 4), o);
  const int steps = by_loglik.model.steps;
  EXPECT_EQ(by_weights.stopped_by + " " + by_loglik.model.stopped_by, "weights loglik");
  EXPECT_NE(steps, by_weights.steps);
  mogem::options cut = o;
  cut.stop = mogem::stop_rule::weights;
  cut.convergence_threshold = 0.0;  // never met
  std::vector<double> per_row;
  for (cut.max_iterations = 0; cut.max_iterations <= steps; cut.max_iterations++) {
    const mogem::fit_result r = mogem::fit(view(data, 4), cut);
    per_row.push_back(r.model.statistics.log_likelihood_per_point);
    EXPECT_EQ(r.model.stopped_by, "budget");
    if (cut.max_iterations == steps) EXPECT_TRUE(same_model(r, by_loglik));
  }
  for (int n = 1; n < steps - 1; n++) EXPECT_GE(std::fabs(per_row[n] - per_row[n - 1]), o.tol) << n;
  EXPECT_LT(std::fabs(per_row[steps - 1] - per_row[steps - 2]), o.tol);
  o.method = mogem::algorithm::annealing;  // every stage after the first ends by the rule
  o.init_temp = 2.0;
  EXPECT_EQ(mogem::fit(view(data, 4), o).model.stopped_by, "loglik");
}

// Every fit counts the variances its last step held at the floor: iris in metres holds all of
// them at 0.001 under every kind (12 per-feature variances, 3 scalar ones, 12 diagonal entries,
// the 4 of the shared diagonal); with the floor off, or in centimetres, none.
TEST(VarianceFloor, TheLastStepsVariancesAtTheFloorAreCounted) {
  using k = mogem::covariance_kind;
  const struct {
    k kind;
    double scale, floor;
    long at_floor, total;
  } cases[] = {{k::diagonal, 0.01, 0.001, 12, 12}, {k::scalar, 0.01, 0.001, 3, 3}, {k::full, 0.01, 0.001, 12, 12},
               {k::tied, 0.01, 0.001, 4, 4},       {k::diagonal, 0.01, 0.0, 0, 12},  {k::full, 0.01, 0.0, 0, 12},
               {k::diagonal, 1.0, 0.001, 0, 12}};
  for (const auto &c : cases) {
    mogem::options o = settings(c.kind, mogem::initialization::church_means, 42);
    o.variance_floor = c.floor;
    o.max_iterations = 100;
    const mogem::fit_statistics s = mogem::fit(view(iris(c.scale), 4), o).model.statistics;
    EXPECT_EQ(std::to_string(s.variances_at_floor) + " of " + std::to_string(s.variances_total),
              std::to_string(c.at_floor) + " of " + std::to_string(c.total)) << &c - cases;
  }
}

// Data a covariance cannot hold without reg_covar fail as they always did; with it they fit,
// finite, and classes left without weight are warned of once. Ten rows with two distinct values
// and ten classes (coinciding starting means, variance 0 at the start) under every kind;
// collinear features in a full covariance.
TEST(Regularisation, FitsWhatACovarianceCannotHoldWithoutIt) {
  std::vector<double> two_values, collinear;
  for (int i = 0; i < 10; i++) two_values.insert(two_values.end(), 2, i < 5 ? 0.0 : 1.0);
  for (int i = 0; i < 60; i++) {
    const double a = (i % 2 ? 4.0 : 0.0) + 0.1 * (i % 7);
    collinear.insert(collinear.end(), {a, 2.0 * a, 0.3 * (i % 5)});
  }
  using k = mogem::covariance_kind;
  const struct {
    const std::vector<double> &data;
    std::size_t cols;
    int classes;
    k kind;
    mogem::error::kind failure;
    bool leaves_empty_classes;
  } cases[] = {{two_values, 2, 10, k::scalar, mogem::error::kind::breakdown, true},
               {two_values, 2, 10, k::diagonal, mogem::error::kind::breakdown, true},
               {two_values, 2, 10, k::full, mogem::error::kind::numerical_failure, true},
               {collinear, 3, 2, k::full, mogem::error::kind::numerical_failure, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    mogem::options o = settings(c.kind, mogem::initialization::church_means, 42);
    o.classes = c.classes;
    o.max_iterations = 100;
    EXPECT_EQ(error_of([&] { mogem::fit(view(c.data, c.cols), o); }).what_kind(), c.failure) << "without reg_covar";
    o.reg_covar = 1e-6;
    std::vector<std::string> warnings;
    mogem::callbacks hooks;
    hooks.warning = [&](const std::string &text) { warnings.push_back(text); };
    const mogem::fit_result r = mogem::fit(view(c.data, c.cols), o, hooks);
    for (const std::vector<double> *values : {&r.model.weights, &r.model.means, &r.model.covariances, &r.posteriors})
      EXPECT_TRUE(std::all_of(values->begin(), values->end(), [](double v) { return std::isfinite(v); }));
    const double rows = static_cast<double>(c.data.size() / c.cols);
    const int empty = static_cast<int>(
        std::count_if(r.model.weights.begin(), r.model.weights.end(), [&](double w) { return w * rows < 1e-6; }));
    EXPECT_EQ(empty > 0, c.leaves_empty_classes);
    EXPECT_EQ(r.model.statistics.classes_without_weight, empty);
    ASSERT_EQ(warnings.size(), empty > 0 ? 1u : 0u);
    if (empty > 0)
      EXPECT_EQ(warnings[0].rfind(std::to_string(empty) + " of 10 classes carry no weight", 0), 0u) << warnings[0];
  }
  mogem::options negative = settings(k::full, mogem::initialization::church_means, 42);
  negative.reg_covar = -1.0;
  EXPECT_THROW(mogem::fit(view(collinear, 3), negative), mogem::error);
}
