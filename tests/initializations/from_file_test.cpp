// The file initialization, through the routine and through the program as a user runs it.
#include <gtest/gtest.h>

#include "initializations/init_means.h"
#include "support/capture.h"
#include "support/one_based.h"
#include "support/run_binary.h"

namespace {

constexpr double unset = -12345.0;

std::string six_points(const std::string &init_lines) {
  return "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\n" + init_lines +
         "begin data\n0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";
}

}  // namespace

TEST(FromFile, ReadsClassByClassInSinglePrecision) {
  scratch_dir dir;
  dir.write("start.txt", "1.1 2.2\n\n3.5\n-4 99 98\n");  // line breaks carry no meaning
  one_based_matrix means(2, 2, unset);
  std::string name = dir.path("start.txt");
  call_outcome out = capture([&] { init_means(nullptr, means.get(), 0, 2, 2, FROM_FILE, 0, 0, name.c_str()); });
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.exit_code, call_outcome::no_exit);
  EXPECT_EQ(means[1][1], 1.100000023841858);
  EXPECT_EQ(means[1][2], static_cast<double>(2.2f));
  EXPECT_EQ(means.row(2), (std::vector<double>{3.5, -4}));
}

TEST(FromFile, ShortFileIsReportedWithTheCounts) {
  scratch_dir dir;
  dir.write("short.txt", "1 2 3");
  dir.write("word.txt", "1 2 x 4");
  one_based_matrix means(2, 2, unset);
  for (const char *file : {"short.txt", "word.txt"}) {
    std::string name = dir.path(file);
    call_outcome out = capture([&] { from_file(means.get(), 2, 2, name.c_str()); });
    EXPECT_EQ(out.exit_code, -1);
    std::string counts = file[0] == 's' ? "holds 3 readable numbers; 4 are needed" : "holds 2 readable numbers";
    EXPECT_NE(out.err.find(name), std::string::npos) << out.err;
    EXPECT_NE(out.err.find(counts), std::string::npos) << out.err;
  }
}

TEST(FromFile, FailuresEndTheRunWithoutResults) {
  struct failing_run {
    std::string init_lines;
    std::string means_file;  // written when not empty
    std::string expected_err;
  };
  const failing_run runs[] = {
      {"init_method file\n", "", "NULL filename\n"},
      {"init_method file\nmeans_file missing.means\n", "", "Could not open file missing.means\n"},
      {"init_method file\nmeans_file start.txt\n", "0 0\n5\n",
       "Error: the means file start.txt holds 3 readable numbers; 4 are needed (2 classes x 2 features)\n"},
  };
  for (const failing_run &run : runs) {
    scratch_dir dir;
    dir.write("input.txt", six_points(run.init_lines));
    std::vector<std::string> left = {"input.txt"};
    if (!run.means_file.empty()) {
      dir.write("start.txt", run.means_file);
      left.push_back("start.txt");
    }
    run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
    EXPECT_EQ(r.exit_code, 255) << run.init_lines;
    EXPECT_EQ(r.err, run.expected_err);
    EXPECT_EQ(dir.files(), left);
  }
}

TEST(InitFailures, SampleSizeThroughTheProgram) {
  scratch_dir dir;
  auto expect_refused = [&](const std::string &input, const std::string &message_part) {
    dir.write("input.txt", input);
    run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find(message_part), std::string::npos) << r.err;
    EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
  };
  expect_refused(six_points("init_method random_sample\n"), "num_samples of at least 1 (it is 0)");
  expect_refused(six_points("init_method random_sample\nnum_samples -2\n"), "(it is -2)");

  // One sample per mean is fine, and the run writes its results.
  dir.write("input.txt", six_points("init_method random_sample\nnum_samples 1\n"));
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(dir.exists("labels.means"));
}
