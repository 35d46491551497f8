// The data file and the numbered snapshots, as a run leaves them.
#include "engine/em_dump.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/run_binary.h"
#include "support/test_model.h"

namespace {

std::vector<std::string> snapshot_names(const std::string &base, const std::vector<std::string> &steps) {
  std::vector<std::string> names;
  for (const std::string &step : steps)
    for (const char *ext : {".labels", ".means", ".variances"}) names.push_back(base + step + ext);
  return names;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(Dumps, SnapshotsOfEveryStepUpToTheConvergedOne) {
  // One class settles after four iterations (steps 0..3); the final snapshot of step 3
  // replaces the one taken before it.
  scratch_dir dir;
  dir.write("input.txt",
            "rows 2 cols 2 num_clusters 1 max_em_iterations 10 output_stepsize 1 output_internal 1 em_type full\n"
            "begin data\n0.123456789 -2\n0.123456789 2.5\n");
  run_result r = run_mogem(dir, {"input.txt", "out"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> expected = snapshot_names("out", {"00000", "00001", "00002", "00003"});
  expected.insert(expected.end(), {"input.txt", "out", "out.internal"});
  EXPECT_EQ(dir.files(), sorted(expected));
  // Data with "%f", tab-separated, no line break after the last line.
  EXPECT_EQ(dir.read("out.internal"), "0.123457\t-2.000000\n0.123457\t2.500000");
  // Snapshot values: single precision, "%4.4f". The start variance of a lone class is 0.001;
  // after an iteration the variances are those of the two points around their mean.
  EXPECT_EQ(dir.read("out00000.means"), "0.1235\t0.2500\n");
  EXPECT_EQ(dir.read("out00000.variances"), "0.0010\t0.0010\n");
  EXPECT_EQ(dir.read("out00003.variances"), "0.0010\t5.0625\n");
  EXPECT_EQ(dir.read("out00002.labels"), "1\n1\n");
}

TEST(Dumps, PeriodAndBudgetDecideWhichStepsAreWritten) {
  // Coinciding initial means never settle (NaN weight changes): budget 5, period 3 gives the
  // snapshots before steps 0 and 3 and no final one at step 5.
  scratch_dir dir;
  dir.write("input.txt", "rows 3 cols 1 num_clusters 2 max_em_iterations 5 output_stepsize 3 init_method "
                         "from_file means_file m.txt begin data 1 2 3");
  dir.write("m.txt", "2 2");
  run_result r = run_mogem(dir, {"input.txt", "res.a.txt"});
  EXPECT_EQ(r.exit_code, 0);
  std::vector<std::string> expected = snapshot_names("res.a", {"00000", "00003"});
  expected.insert(expected.end(), {"input.txt", "m.txt", "res.a.txt"});
  EXPECT_EQ(dir.files(), sorted(expected));

  // Period 0: no snapshot at all, whatever output_internal says.
  scratch_dir quiet;
  quiet.write("input.txt", "rows 3 cols 1 num_clusters 1 max_em_iterations 5 output_internal 1 begin data 1 2 3");
  EXPECT_EQ(run_mogem(quiet, {"input.txt", "l.txt"}).exit_code, 0);
  EXPECT_EQ(quiet.files(), sorted({"input.txt", "l.txt", "l.internal"}));
}

TEST(Dumps, UnwritableDumpsAreNamedAndFailTheRun) {
  scratch_dir dir;
  dir.write("input.txt",
            "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_stepsize 2 output_internal 1 begin data 1 2");
  dir.make_dir("labels.internal");
  dir.make_dir("labels00002.variances");
  run_result r = run_mogem(dir, {"input.txt", "labels.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("labels.internal"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("labels00002.variances"), std::string::npos) << r.err;
  // Every other file is still written, the labels file included.
  for (const char *name : {"labels00000.means", "labels00000.variances", "labels00002.means", "labels00002.labels"})
    EXPECT_TRUE(dir.exists(name)) << name;
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
  EXPECT_EQ(dir.files(), snapshot_names("run.x", {"123456"}));
  EXPECT_EQ(dir.read("run.x123456.variances"), "0.2500\n");
  EXPECT_EQ(t->output_errors, 0);
}
