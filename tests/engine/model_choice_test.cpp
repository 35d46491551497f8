// Fit statistics, restarts, regularisation and model selection through the library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mogem/mogem.h"
#include "support/same_model.h"

namespace {

using mogem::covariance_kind;

// Three groups in three features with unequal spreads, 240 rows.
std::vector<double> groups() {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal;
  std::vector<double> values;
  for (int i = 0; i < 240; i++)
    for (int j = 0; j < 3; j++) values.push_back((1.0 + 0.5 * (i % 3)) * normal(rng) + 5.0 * (i % 3) * (j != 1));
  return values;
}

// log N(x; mean, covariance) by a Cholesky factor of the covariance: written out here, apart
// from the engine's inverse and determinant.
double log_normal(const double *x, const double *mean, std::vector<double> cov, int F) {
  std::vector<double> l(F * F, 0.0);
  for (int r = 0; r < F; r++)
    for (int c = 0; c <= r; c++) {
      double s = cov[r * F + c];
      for (int t = 0; t < c; t++) s -= l[r * F + t] * l[c * F + t];
      l[r * F + c] = r == c ? std::sqrt(s) : s / l[c * F + c];
    }
  std::vector<double> z(F);
  double quad = 0.0, log_det = 0.0;
  for (int r = 0; r < F; r++) {
    double s = x[r] - mean[r];
    for (int t = 0; t < r; t++) s -= l[r * F + t] * z[t];
    z[r] = s / l[r * F + r];
    quad += z[r] * z[r];
    log_det += 2.0 * std::log(l[r * F + r]);
  }
  return -0.5 * (quad + log_det + F * std::log(2.0 * M_PI));
}

// The covariance of class k as a full matrix, whatever the kind, read through covariance(k, r, c):
// the densities below hold it to the fit's own for every kind.
std::vector<double> full_covariance(const mogem::model &m, int k) {
  const int F = m.features;
  std::vector<double> cov(F * F);
  for (int r = 0; r < F; r++)
    for (int c = 0; c < F; c++) cov[r * F + c] = m.covariance(k, r, c);
  return cov;
}

}  // namespace

// The log-likelihood, BIC, AIC and ICL of the final model, against the densities computed
// here for every kind and both metrics (the rows as the fit saw them: centred, unit length).
TEST(FitStatistics, AgreeWithTheDensitiesOfTheFinalModel) {
  const std::vector<double> data = groups();
  for (covariance_kind kind : {covariance_kind::scalar, covariance_kind::diagonal, covariance_kind::full}) {
    for (bool correlation : {false, true}) {
      mogem::options o;
      o.classes = 3;
      o.covariance = kind;
      o.max_iterations = 40;
      o.center = correlation;
      o.distance = correlation ? mogem::metric::correlation : mogem::metric::euclidean;
      std::vector<double> seen = data;
      const mogem::fit_result fitted = mogem::fit_in_place(seen.data(), 240, 3, o);
      const mogem::model &m = fitted.model;
      const std::vector<double> &posteriors = fitted.posteriors;
      double log_likelihood = 0.0, entropy = 0.0;
      for (int i = 0; i < 240; i++) {
        double terms[3], largest = -INFINITY;
        for (int k = 0; k < 3; k++) {
          terms[k] = std::log(m.weights[k]) + log_normal(&seen[i * 3], &m.means[k * 3], full_covariance(m, k), 3);
          largest = std::max(largest, terms[k]);
        }
        double sum = 0.0;
        for (double t : terms) sum += std::exp(t - largest);
        log_likelihood += largest + std::log(sum);
        int best = 0;
        for (int k = 1; k < 3; k++)
          if (posteriors[k * 240 + i] > posteriors[best * 240 + i]) best = k;
        entropy -= std::log(posteriors[best * 240 + i]);
      }
      const mogem::fit_statistics &s = m.statistics;
      const long p = 2 + 9 + (kind == covariance_kind::scalar ? 3 : kind == covariance_kind::diagonal ? 9 : 18);
      EXPECT_EQ(s.parameters, p);
      EXPECT_EQ(s.data_points, 240u);
      EXPECT_NEAR(s.log_likelihood, log_likelihood, 1e-10 * std::fabs(log_likelihood));
      EXPECT_NEAR(s.bic, -2 * log_likelihood + p * std::log(240.0), 1e-10 * std::fabs(s.bic));
      EXPECT_NEAR(s.aic, -2 * log_likelihood + 2 * p, 1e-10 * std::fabs(s.aic));
      EXPECT_NEAR(s.icl, s.bic + 2 * entropy, 1e-10 * std::fabs(s.icl));
    }
  }
}

// Restart 1 is the plain fit; restart r alone, rerun with its seed, gives the same model; the
// best log-likelihood is kept; a restart that breaks down is recorded and the others go on.
TEST(Restarts, KeepTheBestAndRecordEveryFit) {
  const std::vector<double> data = groups();
  mogem::options o;
  o.classes = 3;
  o.covariance = covariance_kind::diagonal;
  o.init = mogem::initialization::random_point;
  o.max_iterations = 25;
  o.random_seed = 9;
  const mogem::model single = mogem::fit(view(data, 3), o).model;
  o.restarts = 4;
  o.threads = 2;
  const mogem::fit_result best = mogem::fit(view(data, 3), o);
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
  EXPECT_TRUE(same_model(mogem::fit(view(data, 3), again), best));

  // Ten equal rows and three others: a random pick of two equal rows breaks the fit down.
  std::vector<double> ties(20, 0.0);
  for (double v : {5.0, 5.0, 6.0, 6.0, 9.0, 1.0}) ties.push_back(v);
  mogem::options scalar;
  scalar.classes = 2;
  scalar.covariance = covariance_kind::scalar;
  scalar.init = mogem::initialization::random_point;
  scalar.max_iterations = 20;
  scalar.restarts = 3;
  const mogem::fit_result survived = mogem::fit(view(ties, 2), scalar);
  EXPECT_TRUE(survived.restarts[0].failed);
  EXPECT_NE(survived.restarts[0].failure.find("broke down at EM step 0"), std::string::npos);
  EXPECT_FALSE(survived.restarts[1].failed);
  EXPECT_EQ(survived.chosen_restart, 2);
  scalar.restarts = 1;
  try {
    mogem::fit(view(ties, 2), scalar);
    ADD_FAILURE() << "a fit that breaks down must throw";
  } catch (const mogem::error &e) {
    EXPECT_EQ(e.what_kind(), mogem::error::kind::breakdown);
  }
  // Deterministic starts would repeat one fit.
  o.init = mogem::initialization::church_means;
  EXPECT_THROW(mogem::fit(view(data, 3), o), mogem::error);
}

// Collinear features make a full covariance singular; reg_covar keeps it invertible.
TEST(Regularisation, LetsASingularFullCovarianceFit) {
  std::vector<double> data;
  for (int i = 0; i < 60; i++) {
    const double a = (i % 2 ? 4.0 : 0.0) + 0.1 * (i % 7);
    data.insert(data.end(), {a, 2.0 * a, 0.3 * (i % 5)});
  }
  mogem::options o;
  o.classes = 2;
  o.covariance = covariance_kind::full;
  o.max_iterations = 20;
  try {
    mogem::fit(view(data, 3), o);
    ADD_FAILURE() << "a singular covariance must fail to factorise";
  } catch (const mogem::error &e) {
    EXPECT_EQ(e.what_kind(), mogem::error::kind::numerical_failure);
  }
  o.reg_covar = 1e-6;
  EXPECT_TRUE(std::isfinite(mogem::fit(view(data, 3), o).model.statistics.log_likelihood));
  o.reg_covar = -1.0;
  EXPECT_THROW(mogem::fit(view(data, 3), o), mogem::error);
}

// The table and the chosen model do not depend on the threads (side by side or in turn); the
// chosen candidate has the lowest criterion, and its model is the candidate's own fit.
TEST(Selection, ChoosesTheLowestCriterionOnAnyThreads) {
  const std::vector<double> data = groups();
  mogem::options o;
  o.max_iterations = 30;
  mogem::selection_settings choice;
  choice.min_classes = 1;
  choice.max_classes = 4;
  choice.kinds = {covariance_kind::scalar, covariance_kind::full};
  o.threads = 1;
  const mogem::selection one = mogem::select_model(view(data, 3), o, choice);
  o.threads = 2;
  const mogem::selection two = mogem::select_model(view(data, 3), o, choice);
  ASSERT_EQ(one.candidates.size(), 8u);
  ASSERT_EQ(two.candidates.size(), 8u);
  for (std::size_t c = 0; c < 8; c++) {
    EXPECT_EQ(std::memcmp(&one.candidates[c].statistics.bic, &two.candidates[c].statistics.bic, sizeof(double)), 0);
    EXPECT_EQ(one.candidates[c].classes, static_cast<int>(c % 4) + 1);
  }
  EXPECT_EQ(one.chosen, two.chosen);
  EXPECT_TRUE(same_model(one.best, two.best));
  for (const mogem::candidate &c : one.candidates) EXPECT_LE(one.candidates[one.chosen].statistics.bic, c.statistics.bic);
  mogem::options chosen = o;
  chosen.classes = one.candidates[one.chosen].classes;
  chosen.covariance = one.candidates[one.chosen].covariance;
  EXPECT_TRUE(same_model(mogem::fit(view(data, 3), chosen), one.best));
  choice.min_classes = 3;
  choice.max_classes = 2;
  EXPECT_THROW(mogem::select_model(view(data, 3), o, choice), mogem::error);
}
