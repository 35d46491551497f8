// Fits, predictions and imputation of rows with missing values (options::missing em): the
// complete-data bytes without holes, a log-likelihood that never falls, the same bits on any
// thread and process count, refusals, and worked values of the marginal density and the
// conditional mean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "mogem/processes.h"
#include "support/same_model.h"
#include "support/thread_processes.h"

namespace {

const mogem::covariance_kind kinds[] = {mogem::covariance_kind::scalar, mogem::covariance_kind::diagonal,
                                        mogem::covariance_kind::full, mogem::covariance_kind::tied};

// Three correlated groups in four features; with `share` of the values NaN (never a whole row).
std::vector<double> groups(int rows, double share, unsigned seed = 5) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  std::vector<double> values;
  for (int i = 0; i < rows; i++) {
    const double common = normal(rng);
    for (int j = 0; j < 4; j++) values.push_back(normal(rng) + 0.8 * common + 4.0 * (i % 3) * (j % 2 ? 1.0 : -0.5));
    for (int j = 0; j < 4; j++)
      if (uniform(rng) < share && j != i % 4) values[values.size() - 4 + j] = NAN;
  }
  return values;
}

mogem::options em_with_holes(mogem::covariance_kind kind) {
  mogem::options o;
  o.classes = 3;
  o.covariance = kind;
  o.init = mogem::initialization::kmeans;
  o.max_iterations = 40;
  o.missing = mogem::missing_values::em;
  return o;
}

template <typename Call>
std::string refusal(Call call) {
  try {
    call();
  } catch (const mogem::error &e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(Holes, DataWithoutHolesGiveTheCompleteDataBytes) {
  const std::vector<double> values = groups(300, 0.0);
  for (mogem::covariance_kind kind : kinds) {
    mogem::options o = em_with_holes(kind);
    o.center = true;
    const mogem::fit_result with_em = mogem::fit(view(values, 4), o);
    o.missing = mogem::missing_values::refuse;
    const mogem::fit_result refused = mogem::fit(view(values, 4), o);
    EXPECT_TRUE(same_model(with_em, refused)) << static_cast<int>(kind);
    EXPECT_EQ(with_em.model.statistics.log_likelihood, refused.model.statistics.log_likelihood);
  }
}

TEST(Holes, ObservedLogLikelihoodNeverFallsAndIsTheMarginalDensity) {
  std::vector<double> values = groups(300, 0.15);
  for (mogem::covariance_kind kind : kinds) {
    mogem::options o = em_with_holes(kind);
    o.stop = mogem::stop_rule::loglik;
    o.tol = 0.0;
    std::vector<double> objectives;
    mogem::callbacks hooks;
    hooks.on_progress = [&](const mogem::progress &at) { objectives.push_back(at.objective); };
    const std::vector<double> given = values;
    const mogem::fit_result fitted = mogem::fit(view(values, 4), o, hooks);
    EXPECT_TRUE(same_bits(values, given));  // the caller's holes stay NaN
    ASSERT_GT(objectives.size(), 5u);
    for (std::size_t s = 1; s < objectives.size(); s++)
      EXPECT_GE(objectives[s], objectives[s - 1] - 1e-12) << static_cast<int>(kind) << " step " << s;
    // The fit's log-likelihood is the scores' sum: the observed values' marginal densities.
    const std::vector<double> scores =
        mogem::score_samples(fitted.model, view(values, 4), 1, mogem::missing_values::em);
    double sum = 0.0;
    for (double s : scores) sum += s;
    EXPECT_NEAR(sum, fitted.model.statistics.log_likelihood, 1e-9 * std::fabs(sum));
  }
  // The diagonal kind's marginal density of one row, worked by hand: only observed features.
  mogem::model diagonal;
  diagonal.kind = mogem::covariance_kind::diagonal;
  diagonal.classes = 2, diagonal.features = 3;
  diagonal.weights = {0.25, 0.75};
  diagonal.means = {0.0, 1.0, 2.0, 3.0, -1.0, 0.5};
  diagonal.covariances = {1.0, 2.0, 4.0, 0.5, 1.5, 3.0};
  const std::vector<double> row = {1.0, NAN, 3.0};
  auto normal = [](double x, double mean, double variance) {
    return std::exp(-0.5 * (x - mean) * (x - mean) / variance) / std::sqrt(2.0 * M_PI * variance);
  };
  const double expected = std::log(0.25 * normal(1.0, 0.0, 1.0) * normal(3.0, 2.0, 4.0) +
                                   0.75 * normal(1.0, 3.0, 0.5) * normal(3.0, 0.5, 3.0));
  EXPECT_NEAR(mogem::score_samples(diagonal, view(row, 3), 1, mogem::missing_values::em)[0], expected, 1e-12);
}

TEST(Holes, SameBitsOnAnyThreadAndProcessCount) {
  const std::vector<double> values = groups(3000, 0.1);
  for (mogem::covariance_kind kind : kinds) {
    mogem::options o = em_with_holes(kind);
    o.center = true;
    o.threads = 1;
    const mogem::fit_result one = mogem::fit(view(values, 4), o);
    o.threads = 2;
    EXPECT_TRUE(same_model(one, mogem::fit(view(values, 4), o))) << static_cast<int>(kind);
    // Three processes holding rows 0..999, 1000..2199 and the rest.
    const std::size_t starts[] = {0, 1000, 2200, 3000};
    std::vector<mogem::fit_result> shares(3);
    run_as_processes(3, [&](const mogem::process_group &group) {
      mogem::callbacks hooks;
      hooks.processes = &group;
      const std::size_t first = starts[group.rank], rows = starts[group.rank + 1] - first;
      shares[group.rank] = mogem::fit({values.data() + first * 4, rows, 4}, o, hooks);
    });
    for (const mogem::fit_result &share : shares) EXPECT_TRUE(same_model(share.model, one.model));
    EXPECT_EQ(shares[2].model.statistics.log_likelihood, one.model.statistics.log_likelihood);
    // Class 1's posteriors of the middle process's rows.
    EXPECT_TRUE(same_bits(std::vector<double>(shares[1].posteriors.begin(), shares[1].posteriors.begin() + 1200),
                          std::vector<double>(one.posteriors.begin() + 1000, one.posteriors.begin() + 2200)));
  }
}

TEST(Holes, ARowScoresAloneAsAmongManyOfItsPattern) {
  // Among 3000 rows of few patterns the diagonal kinds sum each pattern's observed log
  // determinants once, and the full kinds take a pattern's many rows in vectors of rows; a row
  // alone sums its own, and with a hole takes its classes side by side; a complete row alone
  // has no hole and takes the complete-data kernel of its kind, as among rows with holes: the
  // bits must agree.
  const std::vector<double> values = groups(3000, 0.1);
  for (mogem::covariance_kind kind : kinds) {
    const mogem::model fitted = mogem::fit(view(values, 4), em_with_holes(kind)).model;
    const mogem::prediction all = mogem::predict_all(fitted, view(values, 4), 1, mogem::missing_values::em);
    for (std::size_t i = 0; i < 40; i++) {
      const std::vector<double> row(values.begin() + 4 * i, values.begin() + 4 * i + 4);
      const mogem::prediction alone = mogem::predict_all(fitted, view(row, 4), 1, mogem::missing_values::em);
      EXPECT_EQ(alone.log_densities[0], all.log_densities[i]) << static_cast<int>(kind) << " row " << i;
      EXPECT_EQ(alone.posteriors[1], all.posteriors[3000 + i]);
    }
  }
}

TEST(Holes, Refusals) {
  std::vector<double> values = groups(60, 0.1);
  mogem::options o = em_with_holes(mogem::covariance_kind::diagonal);
  mogem::options refusing = o;
  refusing.missing = mogem::missing_values::refuse;
  EXPECT_NE(refusal([&] { mogem::fit(view(values, 4), refusing); }).find("a NaN at row"), std::string::npos);
  o.distance = mogem::metric::correlation;
  EXPECT_NE(refusal([&] {
              mogem::fit(view(values, 4), o);
            }).find("it rescales each row to unit length, which a row with missing values does not have"),
            std::string::npos);
  o.distance = mogem::metric::euclidean;
  o.method = mogem::algorithm::annealing;
  EXPECT_NE(refusal([&] { mogem::fit(view(values, 4), o); }).find("use method em or fill the holes first"),
            std::string::npos);
  o.method = mogem::algorithm::em;
  std::vector<double> empty_row = values;
  for (int j = 0; j < 4; j++) empty_row[6 * 4 + j] = NAN;
  EXPECT_EQ(refusal([&] { mogem::fit(view(empty_row, 4), o); }),
            "the data have no observed value in row 7 (every value is missing); remove the row or give it a value");
  const std::vector<double> empty_column = {1.0, NAN, 2.0, NAN, 3.0, NAN, 4.0, NAN};
  o.classes = 2;
  EXPECT_EQ(refusal([&] { mogem::fit(view(empty_column, 2), o); }),
            "the data have no observed value in column 2: a feature that is missing in every row cannot be fitted; "
            "remove the column");
  o.classes = 3;
  std::vector<double> infinite = values;
  infinite[9] = INFINITY;
  EXPECT_EQ(refusal([&] { mogem::fit(view(infinite, 4), o); }),
            "the data hold an infinite value at row 3, column 2; every value must be a finite number");
  const mogem::fit_result fitted = mogem::fit(view(values, 4), o);
  EXPECT_NE(refusal([&] { mogem::predict(fitted.model, view(values, 4)); }).find("a NaN at row"), std::string::npos);
  EXPECT_NE(refusal([&] { mogem::impute(fitted.model, view(empty_row, 4)); }).find("no observed value in row 7"),
            std::string::npos);
}

TEST(Holes, ImputeGivesTheConditionalMeanAndScoresTheMarginalDensity) {
  // One class, full covariance, centred at c: the hole x2 of a row is
  // mu_2 + S_2o S_oo^-1 (x_o - mu_o), worked here by Cramer's rule on the 2 x 2 observed block.
  mogem::model one;
  one.kind = mogem::covariance_kind::full;
  one.classes = 1, one.features = 3;
  one.weights = {1.0};
  one.means = {1.0, -2.0, 0.5};
  one.covariances = {4.0, 1.2, 0.6, 1.2, 2.0, -0.4, 0.6, -0.4, 1.0};
  one.centre = {10.0, 20.0, 30.0};
  const std::vector<double> rows = {12.0, NAN, 29.0, 10.5, 19.0, 31.0};
  const std::vector<double> filled = mogem::impute(one, view(rows, 3));
  const double d1 = 12.0 - 10.0 - 1.0, d3 = 29.0 - 30.0 - 0.5;
  const double det = 4.0 * 1.0 - 0.6 * 0.6;
  const double a1 = (1.0 * d1 - 0.6 * d3) / det, a3 = (4.0 * d3 - 0.6 * d1) / det;
  const double expected = 20.0 + (-2.0 + 1.2 * a1 + (-0.4) * a3);
  // Its marginal density over the observed x1, x3: the 2 x 2 block's inverse and determinant.
  const double distance = (1.0 * d1 * d1 - 2.0 * 0.6 * d1 * d3 + 4.0 * d3 * d3) / det;
  const double log_density = -0.5 * (distance + std::log(det) + 2.0 * std::log(2.0 * M_PI));
  EXPECT_NEAR(mogem::score_samples(one, view(rows, 3), 1, mogem::missing_values::em)[0], log_density, 1e-12);
  ASSERT_EQ(filled.size(), rows.size());
  EXPECT_NEAR(filled[1], expected, 1e-12);
  EXPECT_EQ(filled[0], 12.0);
  EXPECT_EQ(filled[2], 29.0);
  for (int e = 3; e < 6; e++) EXPECT_EQ(filled[e], rows[e]);
  // Two classes: the posterior-weighted sum of the classes' conditional means.
  const std::vector<double> values = groups(600, 0.1);
  const mogem::fit_result fitted = mogem::fit(view(values, 4), em_with_holes(mogem::covariance_kind::diagonal));
  const std::vector<double> row = {NAN, 1.0, -2.0, 3.0};
  const std::vector<double> p = mogem::predict_proba(fitted.model, view(row, 4), 1, mogem::missing_values::em);
  double mixed = 0.0;
  for (int k = 0; k < 3; k++) mixed += p[k] * fitted.model.means[k * 4];
  EXPECT_NEAR(mogem::impute(fitted.model, view(row, 4))[0], mixed, 1e-12);
}
