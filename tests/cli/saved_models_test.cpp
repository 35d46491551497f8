// Saved models through the program: a fit's model file, prediction of rows with it
// (predict_with), and a fit started from it (init_method model).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/run_binary.h"

namespace {

// `rows` rows of three features in three loose groups, as the data section of a file.
std::string rows_text(int rows) {
  std::string text;
  char line[128];
  for (int i = 0; i < rows; i++) {
    const int g = i % 3;
    std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", 3.0 * g + 0.37 * ((i * 7) % 11) - 1.5,
                  1.0 + g + 0.21 * ((i * 5) % 13), 0.5 * g * g + 0.3 * ((i * 3) % 7));
    text += line;
  }
  return text;
}

std::string header(int rows) { return "rows " + std::to_string(rows) + "\ncols 3\n"; }

std::vector<std::vector<double>> table(const std::string &text) {
  std::vector<std::vector<double>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream values(line);
    out.emplace_back();
    for (double v; values >> v;) out.back().push_back(v);
  }
  return out;
}

}  // namespace

// Predicting the training rows with the saved model gives the fit's posteriors file byte for
// byte, for every kind, metric and algorithm; each predicted label is a class of largest
// printed posterior.
TEST(SavedModels, PredictingTheTrainingRowsGivesTheFitsPosteriors) {
  const std::string data = rows_text(90);
  for (const char *kind : {"scalar", "diagonal", "full"}) {
    for (const char *metric : {"euclidean", "correlation", "correlation_centered"}) {
      for (const char *algorithm : {"em", "em_annealing"}) {
        const std::string settings = std::string("em_type ") + kind + "\ndistance_metric " + metric +
                                     "\nalgorithm " + algorithm + "\n";
        const std::string where = settings;
        scratch_dir dir;
        dir.write("fit.txt", header(90) + "num_clusters 3\nmax_em_iterations 25\noutput_model 1\nmodel_file m.json\n" +
                                 settings + "begin data\n" + data);
        const run_result fit = run_mogem(dir, {"fit.txt", "fit.labels"});
        ASSERT_EQ(fit.exit_code, 0) << where << fit.err;
        EXPECT_EQ(fit.err, "") << where;
        dir.write("new.txt", header(90) + "predict_with m.json\noutput_model 1\nbegin data\n" + data);
        const run_result predicted = run_mogem(dir, {"new.txt", "new.labels"});
        ASSERT_EQ(predicted.exit_code, 0) << where << predicted.err;
        EXPECT_EQ(predicted.err, "") << where;
        EXPECT_EQ(dir.read("new.probs"), dir.read("fit.probs")) << where;
        const auto probs = table(dir.read("new.probs")), labels = table(dir.read("new.labels"));
        ASSERT_EQ(labels.size(), 90u);
        for (std::size_t i = 0; i < 90; i++) {
          const std::vector<double> &row = probs[i];
          const double chosen = row[static_cast<int>(labels[i][0]) - 1];
          for (double p : row) EXPECT_LE(p, chosen) << where << " row " << i;
        }
      }
    }
  }
}

// Rows are labelled a block at a time: many rows give what the library gives for them at once;
// a bad value in the last row leaves no result at all; a key that contradicts the model is
// refused before the data are read.
TEST(SavedModels, PredictionInBlocksAndItsRefusals) {
  scratch_dir dir;
  const std::string training = rows_text(60);
  dir.write("fit.txt", header(60) + "num_clusters 3\nem_type full\nmax_em_iterations 20\nmodel_file m.json\n"
                                    "output_summary 1\nbegin data\n" + training);
  const run_result fit = run_mogem(dir, {"fit.txt", "fit.labels"});
  ASSERT_EQ(fit.exit_code, 0) << fit.err;
  EXPECT_EQ(fit.err, "");
  const int many = 10000;
  const std::string rows = rows_text(many);
  dir.write("new.txt", header(many) + "predict_with m.json\noutput_summary 1\nbegin data\n" + rows);
  const run_result r = run_mogem(dir, {"new.txt", "new.labels"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const mogem::model m = mogem::read_model_file(dir.path("m.json"));
  std::vector<double> values;
  for (const auto &row : table(rows)) values.insert(values.end(), row.begin(), row.end());
  const mogem::prediction expected = mogem::predict_all(m, mogem::matrix_view{values.data(), many, 3});
  std::string labels;
  double log_likelihood = 0.0;
  for (int i = 0; i < many; i++) {
    labels += std::to_string(expected.labels[i] + 1) + "\n";
    log_likelihood += expected.log_densities[i];
  }
  EXPECT_EQ(dir.read("new.labels"), labels);
  const std::string summary = dir.read("new.summary.json");
  EXPECT_NE(summary.find("\"run\": \"prediction\""), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"data_points\": 10000"), std::string::npos) << summary;
  const std::size_t at = summary.find("\"log_likelihood\": ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(std::strtod(summary.c_str() + at + 18, nullptr), log_likelihood);

  scratch_dir late;
  late.write("m.json", dir.read("m.json"));
  late.write("new.txt", header(many) + "predict_with m.json\noutput_model 1\nbegin data\n" +
                            rows.substr(0, rows.rfind(' ') + 1) + "x\n");
  const run_result bad = run_mogem(late, {"new.txt", "new.labels"});
  EXPECT_EQ(bad.exit_code, 255);
  EXPECT_NE(bad.err.find("row 10000, column 3 is not a number"), std::string::npos) << bad.err;
  EXPECT_EQ(late.files(), (std::vector<std::string>{"m.json", "new.txt"}));

  late.write("four.txt", "rows 2\ncols 4\npredict_with m.json\nbegin data\n1 2 3 4 5 6 7 8\n");
  const run_result wide = run_mogem(late, {"four.txt", "four.labels"});
  EXPECT_EQ(wide.exit_code, 255);
  EXPECT_EQ(wide.err, "Error in parameter file four.txt: \"cols\" is 4, but the model in m.json has 3 features; "
                      "give rows of 3 values with \"cols 3\", or use a model fitted on 4 features\n");
}

// A fit started from a saved model with no EM step keeps that model to the last bit: its
// posteriors are the saved fit's. The class count and kind come from the model.
TEST(SavedModels, AWarmStartBeginsAtTheSavedModel) {
  scratch_dir dir;
  const std::string data = rows_text(60);
  dir.write("fit.txt", header(60) + "num_clusters 3\nem_type full\nmax_em_iterations 20\nmodel_file m.json\n"
                                    "output_model 1\nbegin data\n" + data);
  const run_result fit = run_mogem(dir, {"fit.txt", "fit.labels"});
  ASSERT_EQ(fit.exit_code, 0) << fit.err;
  EXPECT_EQ(fit.err, "");
  dir.write("warm.txt", header(60) + "init_method model\ninit_model m.json\nmax_em_iterations 0\noutput_model 1\n"
                                     "begin data\n" + data);
  const run_result r = run_mogem(dir, {"warm.txt", "warm.labels"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.read("warm.probs"), dir.read("fit.probs"));
  EXPECT_EQ(dir.read("warm.means"), dir.read("fit.means"));
}
