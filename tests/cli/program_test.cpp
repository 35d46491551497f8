// The program as a user runs it: the exit codes, messages and files of runs that fail.
#include <gtest/gtest.h>

#include "support/run_binary.h"


namespace {

const std::string six_points =
    "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\nbegin data\n"
    "0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";

// What a run whose labels file cannot be opened reports: each model file, then the labels.
std::string unopenable(const std::string &base, const std::string &labels) {
  std::string err;
  for (const char *ext : {".means", ".variances", ".weights", ".probs"})
    err += "Error: could not write the file " + base + ext + ": No such file or directory\n";
  return err + "Error: Could not open results filename [" + labels + "] for writing.\nAborting...\n";
}

}  // namespace

TEST(CommandLine, FailedRunsEndWithTheirCodeAndMessage) {
  const std::string usage = std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int exit_code;
    std::string err;
    std::vector<std::string> left;  // regular files afterwards; "out" and "labels.means" are directories
  } runs[] = {
      {{}, six_points, 255, usage, {"input.txt"}},
      {{"input.txt"}, six_points, 255, usage, {"input.txt"}},
      {{"missing.txt", "labels.txt"}, six_points, 255,
       "Error: missing.txt is not openable, errno is 2 (No such file or directory)\n", {"input.txt"}},
      {{"input.txt", "out/sub/labels.txt"}, six_points, 1, unopenable("out/sub/labels", "out/sub/labels.txt"),
       {"input.txt"}},
      {{"input.txt", "out/labels.txt/"}, six_points, 1, unopenable("out/labels.txt/", "out/labels.txt/"),
       {"input.txt"}},
      // A model file in the way fails the run, but not the other files.
      {{"input.txt", "labels.txt"}, six_points, 1, "Error: could not write the file labels.means: Is a directory\n",
       {"input.txt", "labels.probs", "labels.txt", "labels.variances", "labels.weights"}},
  };
  for (const auto &run : runs) {
    scratch_dir dir;
    dir.write("input.txt", run.input);
    dir.make_dir("out");
    dir.make_dir("labels.means");
    run_result r = run_mogem(dir, run.args);
    EXPECT_EQ(r.exit_code, run.exit_code) << run.err;
    EXPECT_EQ(r.err, run.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.files(), run.left) << run.err;
  }
}

TEST(CommandLine, UnreadableInputEndsWithMinusOneAndNoFiles) {
  scratch_dir dir;
  dir.write("input.txt", "rows 2 cols 2 num_clusters 1 begin x 1 2 3 oops");
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find("row 2, column 2 is not a number"), std::string::npos) << r.err;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
}
