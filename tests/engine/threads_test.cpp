// The thread count a user sets. (That results do not depend on it: kernels/kernels_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "support/run_binary.h"

TEST(Threads, AThreadCountThatIsNoNumberIsReportedAndIgnored) {
  scratch_dir dir;
  dir.write("in.txt", "rows 4 cols 1 num_clusters 2 max_em_iterations 3 begin data 0 0.1 5 5.1\n");
  const run_result r = run_mogem(dir, {"in.txt", "labels.txt"}, {{"MOGEM_THREADS=two"}});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.rfind("MOGEM_THREADS=two is not a positive integer; using all ", 0), 0u) << r.err;
  EXPECT_EQ(dir.read("labels.txt"), "2\n2\n1\n1\n");  // the run itself goes on as ever
}
