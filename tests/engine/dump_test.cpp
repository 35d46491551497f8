// The numbered snapshots where no whole-run case reaches: dumps in the way, wide step numbers.
#include "io/dump_files.h"

#include <gtest/gtest.h>

#include "support/run_binary.h"
#include "support/test_model.h"

using namespace mogem::detail;

TEST(Dumps, UnwritableDumpsAreNamedAndFailTheRun) {
  scratch_dir dir;
  dir.make_dir("labels.internal");
  dir.make_dir("labels00002.variances");
  run_result r = run_input(
      dir, "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_stepsize 2 output_internal 1 begin data 1 2");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "Error: could not write the file labels.internal: Is a directory\n"
            "Error: could not write the file labels00002.variances: Is a directory\n");
  // Every other file is still written, the labels file included.
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"input.txt", "labels.txt", "labels00000.labels", "labels00000.means",
                                                   "labels00000.variances", "labels00002.labels", "labels00002.means"}));
  EXPECT_EQ(dir.read("labels.txt"), "1\n1\n");
}

TEST(Dumps, StepNumbersWiderThanFiveDigits) {
  scratch_dir dir;
  test_model t({{1.0}, {2.0}}, 1, SCALAR);
  const std::string base = dir.path("run.x.txt");
  t.params().output_filename = base.c_str();
  t.set_mean(1, {1.5});
  t.set_spherical(1, 0.25);
  t.set_posteriors(1, {1.0, 1.0});
  dumpvars(t.get(), 123456);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"run.x123456.labels", "run.x123456.means", "run.x123456.variances"}));
  EXPECT_EQ(dir.read("run.x123456.variances"), "0.2500\n");
  EXPECT_EQ(t->output_errors, 0);
}
