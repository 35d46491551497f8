// Saved models through the program: a fit's model file, prediction of rows with it
// (predict_with), and a fit started from it (init_method model).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mogem/files.h"
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

}  // namespace

// Predicting the training rows with the saved model gives the fit's posteriors file byte for
// byte; each predicted label is a class of largest printed posterior. Prediction takes its
// path by the kind and the metric (the algorithm only shapes the saved model): every kind and
// every metric once, each algorithm at least once.
TEST(SavedModels, PredictingTheTrainingRowsGivesTheFitsPosteriors) {
  const std::string data = rows_text(90);
  const char *const runs[][3] = {{"scalar", "euclidean", "em"},
                                 {"diagonal", "correlation", "em_annealing"},
                                 {"full", "correlation_centered", "em"},
                                 {"full", "euclidean", "em_annealing"},
                                 {"tied", "euclidean", "em"}};
  for (const auto &run : runs) {
    const std::string settings =
        std::string("em_type ") + run[0] + "\ndistance_metric " + run[1] + "\nalgorithm " + run[2] + "\n";
    SCOPED_TRACE(settings);
    scratch_dir dir;
    ASSERT_TRUE(runs_cleanly(dir, "fit", header(90) + "num_clusters 3\nmax_em_iterations 25\noutput_model 1\n"
                                         "model_file m.json\n" + settings + "begin data\n" + data));
    ASSERT_TRUE(runs_cleanly(dir, "new", header(90) + "predict_with m.json\noutput_model 1\nbegin data\n" + data));
    EXPECT_EQ(dir.read("new.probs"), dir.read("fit.probs"));
    const auto probs = numbers_in<double>(dir.read("new.probs"));
    const auto labels = numbers_in<int>(dir.read("new.labels"));
    ASSERT_EQ(labels.size(), 90u);
    ASSERT_EQ(probs.size(), 270u);
    for (std::size_t i = 0; i < 90; i++)
      for (std::size_t k = 0; k < 3; k++) EXPECT_LE(probs[3 * i + k], probs[3 * i + labels[i] - 1]) << "row " << i;
  }
}

// A fit started from a saved model with no EM step keeps that model to the last bit (the class
// count and kind come from the model). Rows are labelled a block at a time: many rows give what
// the library gives for them at once; a bad value in the last row leaves no result at all; a
// key that contradicts the model is refused before the data are read.
TEST(SavedModels, AWarmStartPredictionInBlocksAndItsRefusals) {
  scratch_dir dir;
  const std::string training = rows_text(60);
  ASSERT_TRUE(runs_cleanly(dir, "fit", header(60) + "num_clusters 3\nem_type full\nmax_em_iterations 20\n"
                                       "model_file m.json\noutput_model 1\nbegin data\n" + training));
  ASSERT_TRUE(runs_cleanly(dir, "warm", header(60) + "init_method model\ninit_model m.json\nmax_em_iterations 0\n"
                                        "output_model 1\nbegin data\n" + training));
  EXPECT_EQ(dir.read("warm.probs"), dir.read("fit.probs"));
  EXPECT_EQ(dir.read("warm.means"), dir.read("fit.means"));
  const int many = 10000;
  const std::string rows = rows_text(many);
  ASSERT_TRUE(runs_cleanly(dir, "new", header(many) + "predict_with m.json\noutput_summary 1\nbegin data\n" + rows));
  const mogem::model m = mogem::read_model_file(dir.path("m.json"));
  const std::vector<double> values = numbers_in<double>(rows);
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
