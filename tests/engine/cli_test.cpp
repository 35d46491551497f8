// The program as a user runs it: arguments, exit codes, messages and the files it leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/run_binary.h"

namespace {

const char *const six_points =
    "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\nbegin data\n"
    "0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";

const std::vector<std::string> model_files = {"labels.means", "labels.probs", "labels.txt", "labels.variances",
                                              "labels.weights"};

std::vector<std::string> with_input(std::vector<std::string> names) {
  names.push_back("input.txt");
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(CommandLine, FewerThanTwoArgumentsPrintUsage) {
  scratch_dir dir;
  dir.write("input.txt", six_points);
  for (const std::vector<std::string> &args : {std::vector<std::string>{}, std::vector<std::string>{"input.txt"}}) {
    run_result r = run_mogem(dir, args);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.err, std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
  }
}

TEST(CommandLine, ExtraArgumentsAreIgnored) {
  scratch_dir plain, extra;
  plain.write("input.txt", six_points);
  extra.write("input.txt", six_points);
  run_result a = run_mogem(plain, {"input.txt", "labels.txt"});
  run_result b = run_mogem(extra, {"input.txt", "labels.txt", "extra", "more.txt"});
  EXPECT_EQ(a.exit_code, 0);
  EXPECT_EQ(b.exit_code, 0);
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(extra.files(), with_input(model_files));
  for (const auto &name : model_files) EXPECT_EQ(plain.read(name), extra.read(name)) << name;
}

TEST(CommandLine, UnreadableInputEndsWithMinusOneAndNoFiles) {
  scratch_dir dir;
  run_result r = run_mogem(dir, {"missing.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "Error: missing.txt is not openable, errno is 2 (No such file or directory)\n");
  EXPECT_TRUE(dir.files().empty());

  dir.write("input.txt", "rows 2 cols 2 num_clusters 1 begin x 1 2 3 oops");
  r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find("row 2, column 2 is not a number"), std::string::npos) << r.err;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
}

TEST(CommandLine, MixtureOfTIsAcceptedButNotAvailable) {
  scratch_dir dir;
  dir.write("input.txt", std::string("algorithm em_mixture_of_t\n") + six_points);
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find("em_mixture_of_t"), std::string::npos);
  EXPECT_NE(r.err.find("not available"), std::string::npos);
  EXPECT_EQ(r.err.find("Unsupported"), std::string::npos);  // the keyword itself is valid
  EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
}

TEST(CommandLine, MoreClassesThanPointsWarnsAndLowersTheCount) {
  scratch_dir dir;
  dir.write("input.txt", "rows 3 cols 1 num_clusters 5 output_model 1 begin data 0 1 9");
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "WARNING: Number of classes exceeds datapoints. Adjusting\n");
  // The default budget runs no iteration: three equal weights, the church means (centroid,
  // then the farthest points), and posteriors with one value per class.
  EXPECT_EQ(dir.read("labels.weights"), "0.333333\n0.333333\n0.333333\n");
  EXPECT_EQ(dir.read("labels.means"), "3.333333\n9.000000\n0.000000\n");
  EXPECT_EQ(dir.read("labels.probs").substr(0, 27), "0.342058\t0.093982\t0.563959\n");
}

TEST(ResultFiles, UnopenableLabelsFileFailsAfterTheModelFiles) {
  scratch_dir dir;
  dir.write("input.txt", six_points);
  dir.make_dir("out");
  run_result r = run_mogem(dir, {"input.txt", "out/sub/labels.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Error: could not write the file out/sub/labels.means: No such file or directory\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("Error: Could not open results filename [out/sub/labels.txt] for writing.\nAborting...\n"),
            std::string::npos);

  run_result written = run_mogem(dir, {"input.txt", "out/labels.txt/"});
  EXPECT_EQ(written.exit_code, 1);
}

TEST(ResultFiles, ModelFilesInADirectoryWithADotKeepTheirDirectory) {
  scratch_dir dir;
  dir.write("input.txt", six_points);
  dir.make_dir("run.1");
  run_result r = run_mogem(dir, {"input.txt", "run.1/labels"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"input.txt", "run.1/labels", "run.1/labels.means",
                                                   "run.1/labels.probs", "run.1/labels.variances",
                                                   "run.1/labels.weights"}));
}

TEST(ResultFiles, AModelFileInTheWayFailsTheRunButNotTheOthers) {
  scratch_dir dir;
  dir.write("input.txt", six_points);
  dir.make_dir("labels.means");
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Error: could not write the file labels.means: Is a directory\n");
  EXPECT_EQ(dir.files(), with_input({"labels.probs", "labels.txt", "labels.variances", "labels.weights"}));
  EXPECT_EQ(dir.read("labels.txt").size(), 12u);  // six labels, one per line
}

TEST(ResultFiles, SameInputGivesTheSameBytes) {
  scratch_dir first, second;
  first.write("input.txt", six_points);
  second.write("input.txt", six_points);
  ASSERT_EQ(run_mogem(first, {"input.txt", "labels.txt"}).exit_code, 0);
  ASSERT_EQ(run_mogem(second, {"input.txt", "labels.txt"}).exit_code, 0);
  for (const auto &name : model_files) EXPECT_EQ(first.read(name), second.read(name)) << name;
}
