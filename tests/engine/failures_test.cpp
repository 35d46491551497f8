// Numerical failures and breakdowns as a caller of the library meets them: what() in options
// words with the remedy, in_file_terms() the program's own text.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/failures.h"
#include "mogem/mogem.h"
#include "support/same_model.h"

namespace {

// Why a covariance is singular, and the remedies, as the messages word them.
const std::string on_a_line =
    " (it is not positive definite: the rows it holds lie on a line or a plane, or are fewer than the features): ";
const std::string coinciding = " (its starting variance is zero: its starting mean coincides with another class's): "
                               "set reg_covar, e.g. 1e-6, choose other starting means (another init or random_seed)";
const std::string fewer = ", use fewer classes or the diagonal kind";

TEST(FailuresInWords, FitsThatFailSayWhatAndWhatToChange) {
  const auto full = mogem::covariance_kind::full;
  const struct {
    const char *about;
    std::vector<double> rows;  // two features
    int classes;
    mogem::covariance_kind kind;
    double variance_floor, reg_covar;
    int steps;
    mogem::error::kind kind_of_failure;
    std::string message, setting, in_file_terms;
  } cases[] = {
      {"rows on a line", {0, 0, 0, 0, 4, 4, 4, 4}, 1, full, 0.001, 0.0, 20, mogem::error::kind::numerical_failure,
       "the covariance of class 1 is singular at EM step 1" + on_a_line + "set reg_covar, e.g. 1e-6" + fewer,
       "reg_covar", "NR_dcholdc failed"},
      {"rows on a line, too little reg_covar", {0, 0, 0, 0, 4, 4, 4, 4}, 1, full, 0.001, 1e-300, 20,
       mogem::error::kind::numerical_failure,
       "the covariance of class 1 is singular at EM step 1" + on_a_line + "raise reg_covar above 1e-300, e.g. to "
       "1e-6" + fewer, "reg_covar", "NR_dcholdc failed"},
      {"rows on a line, tied", {0, 0, 0, 0, 4, 4, 4, 4}, 1, mogem::covariance_kind::tied, 0.001, 0.0, 20,
       mogem::error::kind::numerical_failure,
       "the shared covariance of the tied kind is singular at EM step 1" + on_a_line + "set reg_covar, e.g. 1e-6" +
           fewer, "reg_covar", "NR_dcholdc failed"},
      {"a constant feature, no floor", {0, 5, 1, 5, 2, 5, 3, 5}, 1, full, 0.0, 0.0, 20,
       mogem::error::kind::numerical_failure,
       "the covariance of class 1 is singular at EM step 1 (feature 2 does not vary among the rows it holds): set "
       "reg_covar, e.g. 1e-6, or use fewer classes",
       "reg_covar", "Singular matrix in routine NR_dludcmp"},
      {"coinciding starting means", std::vector<double>(12, 2.0), 2, full, 0.001, 0.0, 20,
       mogem::error::kind::numerical_failure,
       "the covariance of class 1 is singular at EM step 0" + coinciding + " or fewer classes", "reg_covar",
       "Singular matrix in routine NR_dludcmp"},
      {"coinciding starting means, no step", std::vector<double>(12, 2.0), 2, full, 0.001, 0.0, 0,
       mogem::error::kind::numerical_failure,
       "the covariance of class 1 is singular in the final E-step, after 0 EM steps" + coinciding + " or fewer classes",
       "reg_covar", "Singular matrix in routine NR_dludcmp"},
      {"weights not-a-number", std::vector<double>(12, 2.0), 2, mogem::covariance_kind::diagonal, 0.001, 0.0, 20,
       mogem::error::kind::breakdown,
       "the fit broke down at EM step 0: the mixture weights became not-a-number; set reg_covar, e.g. 1e-6, choose "
       "other starting means (another init or random_seed), fewer classes, or data on a scale whose squared "
       "distances stay finite",
       "reg_covar",
       "the fit broke down at EM step 0: the mixture weights became not-a-number; choose other initial means "
       "(another init_method or random_seed), fewer classes, or data on a scale whose squared distances stay "
       "finite"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.about);
    mogem::options o;
    o.classes = c.classes;
    o.covariance = c.kind;
    o.max_iterations = c.steps;
    o.variance_floor = c.variance_floor;
    o.reg_covar = c.reg_covar;
    const mogem::error e = error_of([&] { mogem::fit(view(c.rows, 2), o); });
    EXPECT_EQ(e.what_kind(), c.kind_of_failure);
    EXPECT_EQ(e.what(), c.message);
    EXPECT_EQ(e.setting(), c.setting);
    EXPECT_EQ(e.in_file_terms(), c.in_file_terms);
    // The program frames the numerical routines' texts as they are.
    EXPECT_EQ(e.has_own_heading(), c.kind_of_failure == mogem::error::kind::numerical_failure);
  }
}

TEST(FailuresInWords, AModelThatCannotPredictSaysToFitAgain) {
  mogem::model singular;
  singular.kind = mogem::covariance_kind::full;
  singular.classes = 1;
  singular.features = 2;
  singular.weights = {1.0};
  singular.means = {0.0, 0.0};
  singular.covariances = {1.0, 1.0, 1.0, 1.0};
  const std::vector<double> rows = {1.0, 2.0};
  const mogem::error e = error_of([&] { mogem::predict(singular, view(rows, 2)); });
  EXPECT_EQ(e.what_kind(), mogem::error::kind::numerical_failure);
  EXPECT_EQ(e.what(), "the covariance of class 1 is singular in the fitted model" + on_a_line +
                         "fit the model again: set reg_covar, e.g. 1e-6" + fewer);
  EXPECT_EQ(e.in_file_terms(), "NR_dcholdc failed");
}

// 100,000 classes on a million rows: 800 GB of posteriors, refused before they are tried.
TEST(FailuresInWords, MemoryBeyondReachIsASize) {
  const std::vector<double> rows(1000000, 1.0);
  mogem::options o;
  o.classes = 100000;
  const mogem::error e = error_of([&] { mogem::fit(view(rows, 1), o); });
  EXPECT_EQ(e.what_kind(), mogem::error::kind::numerical_failure);
  const std::string message = e.what();
  EXPECT_EQ(message.rfind("1,000,000 rows x 100,000 classes of posteriors need 745 GiB (745 GiB for the whole fit), "
                          "more than this machine's ",
                          0),
            0u)
      << message;
  EXPECT_NE(message.find(" of memory and swap: use fewer classes or fewer rows, or fit over several processes"),
            std::string::npos)
      << message;
  EXPECT_EQ(e.setting(), "classes");
  EXPECT_EQ(e.in_file_terms(), "allocation failure 2 in matrix()");
  // Two figures at least, in the largest unit that keeps the number at 1 or more.
  for (const auto &[bytes, words] : {std::pair<double, const char *>{512, "512 bytes"}, {3.5 * 1024, "3.5 KiB"},
                                     {30e6 * 1e5 * 8, "22 TiB"}})
    EXPECT_EQ(mogem::detail::bytes_in_words(bytes), words);
}

}  // namespace
