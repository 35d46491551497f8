// Whole runs write the same bytes on any thread count; the steps and their kernels on 1, 2 and
// 3 threads are checked in kernels/kernels_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/run_binary.h"

TEST(Threads, RunsWriteTheSameBytesOnOneThreadAndOnTwo) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  std::string data;
  char number[32];
  for (int i = 0; i < 20000; i++)
    for (int j = 0; j < 6; j++) {
      std::snprintf(number, sizeof number, "%.5f%c", normal(rng) + 4.0 * (i % 5 == j), j == 5 ? '\n' : ' ');
      data += number;
    }
  for (const char *kind : {"scalar", "diagonal", "full"}) {
    scratch_dir dir;
    dir.write("in.txt", std::string("rows 20000 cols 6 num_clusters 5 max_em_iterations 4 output_model 1 em_type ") +
                            kind + " begin data\n" + data);
    std::vector<std::string> outputs;
    for (const char *threads : {"1", "2"}) {
      setenv("MOGEM_THREADS", threads, 1);
      const run_result r = run_mogem(dir, {"in.txt", "labels.txt"});
      EXPECT_EQ(r.exit_code, 0);
      outputs.push_back(dir.read("labels.txt") + dir.read("labels.means") + dir.read("labels.variances") +
                        dir.read("labels.weights") + dir.read("labels.probs"));
    }
    unsetenv("MOGEM_THREADS");
    EXPECT_EQ(outputs[0], outputs[1]) << kind;
    EXPECT_GT(outputs[0].size(), 20000u * 5 * 9);
  }
}

TEST(Threads, AThreadCountThatIsNoNumberIsReportedAndIgnored) {
  scratch_dir dir;
  dir.write("in.txt", "rows 4 cols 1 num_clusters 2 max_em_iterations 3 begin data 0 0.1 5 5.1\n");
  setenv("MOGEM_THREADS", "two", 1);
  const run_result r = run_mogem(dir, {"in.txt", "labels.txt"});
  unsetenv("MOGEM_THREADS");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.rfind("MOGEM_THREADS=two is not a positive integer; using all ", 0), 0u) << r.err;
  EXPECT_EQ(dir.read("labels.txt"), "2\n2\n1\n1\n");  // the run itself goes on as ever
}
