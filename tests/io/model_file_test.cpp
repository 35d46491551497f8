// Saved models: what is not a usable model is refused with the file and the problem named. (That
// a saved model reads back as the same bits, every kind, centred or not, is the Python tests'
// comparison of the program's saved models with the same fits in process.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mogem/files.h"
#include "support/same_model.h"

namespace {

mogem::model fitted(mogem::covariance_kind kind = mogem::covariance_kind::full) {
  std::vector<double> data;
  for (int i = 0; i < 40; i++) data.insert(data.end(), {0.1 * i + (i % 2) * 3.0, 1.0 / (1 + i), (i % 5) * 0.7});
  mogem::options o;
  o.classes = 2;
  o.covariance = kind;
  o.max_iterations = 15;
  return mogem::fit(mogem::matrix_view{data.data(), 40, 3}, o).model;
}

std::string refusal(const std::string &text) {
  const mogem::error e = error_of([&] { mogem::model_from_json(text, "m.json"); });
  EXPECT_EQ(e.what_kind(), mogem::error::kind::invalid_input);
  return e.what();
}

// The text with the first `from` replaced by `to`.
std::string with(std::string text, const std::string &from, const std::string &to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(ModelFile, RefusesWhatIsNotAUsableModel) {
  const std::string good = mogem::model_to_json(fitted());
  const struct {
    std::string text, problem;
  } cases[] = {
      {"", "it is not valid JSON"},
      {good.substr(0, good.size() / 2), "it is not valid JSON"},
      {"{\"weights\": [1e400]}", "it is not valid JSON"},  // beyond a double's range
      {"[1, 2]", "it is not a JSON object"},
      {with(good, "\"mogem model\"", "\"other\""), "it is not a saved model"},
      {with(good, "\"version\": 1", "\"version\": 2"), "it is of version 2; this program reads version 1"},
      {with(good, "\"classes\": 2", "\"classes\": 3"), "\"weights\" is not a list of 3 numbers"},
      {with(good, "\"features\": 3", "\"features\": 2"), "\"means\" is not a list of 2 numbers"},
      {with(good, "\"covariance\": \"full\"", "\"covariance\": \"round\""), "\"covariance\" is \"round\""},
      {with(good, "\"unit_length\": false", "\"unit_length\": true"), "\"unit_length\" must be true exactly when"},
      {with(good, "\"weights\"", "\"heights\""), "the field \"weights\" is missing"},
      {with(good, "\"features\": 3,", "\"features\": 3,\n \"feature_names\": [\"a\", \"b\"],"),
       "\"feature_names\" is not a list of 3 texts"},
      {with(good, "\"features\": 3,", "\"features\": 3,\n \"feature_names\": [\"a\", 2, \"c\"],"),
       "\"feature_names\" holds 2, not a text"},
  };
  for (const auto &c : cases) {
    const std::string message = refusal(c.text);
    EXPECT_EQ(message.rfind("the model file m.json cannot be used: ", 0), 0u) << message;
    EXPECT_NE(message.find(c.problem), std::string::npos) << message;
  }
  // A covariance that is not positive definite: its first diagonal entry made negative.
  mogem::model m = fitted();
  m.covariances[0] = -m.covariances[0];
  EXPECT_NE(refusal(mogem::model_to_json(m)).find("the covariance of class 1 is not symmetric and positive definite"),
            std::string::npos);
  EXPECT_STREQ(error_of([] { mogem::read_model_file("/nonexistent/m.json"); }).what(),
               "the model file /nonexistent/m.json cannot be used: it cannot be opened (No such file or directory)");
}

// The stop rule and the counts of the statistics go into the summary and the saved model and
// read back; a model saved before the rule was recorded reads as stopped by the weights.
TEST(ModelFile, StatisticsCarryTheStopRuleAndTheCounts) {
  mogem::fit_result result;
  mogem::model &m = result.model = fitted();
  m.converged = true;
  m.stopped_by = "loglik";
  m.statistics.variances_at_floor = 5;
  m.statistics.variances_total = 6;
  m.statistics.classes_without_weight = 1;
  const std::string path = ::testing::TempDir() + "stop_rule.summary.json";
  mogem::write_fit_summary(path, result);
  std::ifstream in(path);
  const std::string summary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  const char *fields = "  \"stopped_by\": \"loglik\",\n";
  const char *counts = "  \"variances_at_floor\": 5,\n  \"variances_total\": 6,\n  \"classes_without_weight\": 1,\n";
  EXPECT_NE(summary.find(std::string("\"stop\": \"converged\",\n") + fields), std::string::npos) << summary;
  EXPECT_NE(summary.find(counts), std::string::npos) << summary;
  const std::string saved = mogem::model_to_json(m);
  const mogem::model back = mogem::model_from_json(saved, "m.json");
  EXPECT_EQ(back.stopped_by + " " + std::to_string(back.statistics.variances_at_floor) + " " +
                std::to_string(back.statistics.variances_total) + " " + std::to_string(back.statistics.classes_without_weight),
            "loglik 5 6 1");
  EXPECT_EQ(mogem::model_from_json(with(saved, " \"stopped_by\": \"loglik\",\n", ""), "m.json").stopped_by, "weights");
}

// A tied model saves its one matrix (not one per class), reads back to the same bits, and
// answers covariance(k, r, c) alike for every class; a shared matrix that is not positive
// definite is refused as such.
TEST(ModelFile, ATiedModelKeepsOneSharedMatrix) {
  mogem::model m = fitted(mogem::covariance_kind::tied);
  ASSERT_EQ(m.covariances.size(), 9u);
  const mogem::model back = mogem::model_from_json(mogem::model_to_json(m), "m.json");
  EXPECT_EQ(back.kind, mogem::covariance_kind::tied);
  EXPECT_EQ(back.covariances, m.covariances);
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) {
      EXPECT_EQ(back.covariance(0, r, c), m.covariances[r * 3 + c]);
      EXPECT_EQ(back.covariance(1, r, c), m.covariances[r * 3 + c]);
    }
  EXPECT_EQ(back.feature_variance(1, 2), m.covariances[8]);
  m.covariances[4] = -m.covariances[4];
  EXPECT_NE(refusal(mogem::model_to_json(m)).find("the shared (tied) covariance is not symmetric and positive definite"),
            std::string::npos);
}

// Feature names are saved only when the model has them (an unnamed model's file has no such
// field, as files saved before names were kept), read back in order (bytes that are not UTF-8
// as U+FFFD), and must be one per feature.
TEST(ModelFile, FeatureNamesAreKeptOnlyWhenGiven) {
  mogem::model m = fitted();
  const std::string unnamed = mogem::model_to_json(m);
  EXPECT_EQ(unnamed.find("feature_names"), std::string::npos);
  EXPECT_TRUE(mogem::model_from_json(unnamed, "m.json").feature_names.empty());
  m.feature_names = {"alcohol", "malic acid", "h\u00e9"};
  const std::string named = mogem::model_to_json(m);
  EXPECT_EQ(with(named, " \"feature_names\": [\n  \"alcohol\",\n  \"malic acid\",\n  \"h\u00e9\"\n ],\n", ""), unnamed);
  EXPECT_EQ(mogem::model_from_json(named, "m.json").feature_names, m.feature_names);
  m.feature_names[2] = "h\xe9";  // Latin-1, not UTF-8
  EXPECT_EQ(mogem::model_from_json(mogem::model_to_json(m), "m.json").feature_names[2], "h\ufffd");
  m.feature_names.pop_back();
  const std::string path = ::testing::TempDir() + "two_names.json";
  EXPECT_STREQ(error_of([&] { mogem::write_model_file(path, m); }).what(),
               "the model has 2 feature names for its 3 features; no model file is written");
  EXPECT_NE(std::remove(path.c_str()), 0);  // nothing was written
}
