// The file initialization, and the initializations' refusals through the program.
#include <gtest/gtest.h>

#include "initializations/init_means.h"
#include "support/capture.h"
#include "support/one_based.h"
#include "support/run_binary.h"

using namespace mogem::detail;

TEST(FromFile, ReadsClassByClassInSinglePrecision) {
  scratch_dir dir;
  dir.write("start.txt", "1.1 2.2\n\n3.5\n-4 99 98\n");  // line breaks carry no meaning
  one_based_matrix means(2, 2, -12345.0);
  std::string name = dir.path("start.txt");
  call_outcome out = capture([&] { init_means(nullptr, means.get(), 0, 2, 2, FROM_FILE, 0, 0, name.c_str()); });
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.exit_code, call_outcome::no_exit);
  EXPECT_EQ(means.row(1), (std::vector<double>{1.100000023841858, 2.2f}));
  EXPECT_EQ(means.row(2), (std::vector<double>{3.5, -4}));
}

TEST(InitFailures, EndTheRunWithoutResults) {
  const struct {
    std::string init_lines;
    std::string means_file;  // written as start.txt when not empty
    std::string expected_err;
  } runs[] = {
      {"init_method file\n", "", "NULL filename\n"},
      {"init_method file\nmeans_file missing.means\n", "", "Could not open file missing.means\n"},
      {"init_method file\nmeans_file start.txt\n", "0 0\n5\n",
       "Error: the means file start.txt holds 3 readable numbers; 4 are needed (2 classes x 2 features)\n"},
      {"init_method file\nmeans_file start.txt\n", "1 2 x 4",
       "Error: the means file start.txt holds 2 readable numbers; 4 are needed (2 classes x 2 features)\n"},
      {"init_method random_sample\n", "",
       "Error: the random_sample initialization needs num_samples of at least 1 (it is 0); set num_samples in the "
       "parameter file\n"},
      {"init_method random_sample\nnum_samples -2\n", "",
       "Error: the random_sample initialization needs num_samples of at least 1 (it is -2); set num_samples in the "
       "parameter file\n"},
  };
  for (const auto &run : runs) {
    scratch_dir dir;
    std::vector<std::string> left = {"input.txt"};
    if (!run.means_file.empty()) {
      dir.write("start.txt", run.means_file);
      left.push_back("start.txt");
    }
    run_result r = run_input(dir, "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\n" +
                                      run.init_lines + "begin data\n0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n");
    EXPECT_EQ(r.exit_code, 255) << run.init_lines;
    EXPECT_EQ(r.err, run.expected_err);
    EXPECT_EQ(dir.files(), left);
  }
}
