// The data dump and the numbered snapshots where no whole-run case reaches: dumps in the way,
// the snapshot layout.
#include <gtest/gtest.h>

#include "mogem/mogem.h"
#include "support/run_binary.h"

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

TEST(Dumps, SnapshotsHoldFourDecimalsOfSinglePrecisionAndLabelsFromOne) {
  scratch_dir dir;
  const double means[] = {1.23456789, -2.0, 0.1, 1e5 + 0.00004};
  const double variances[] = {0.25, 0.25, 3.0, 1.0 / 3};
  const int labels[] = {1, 0, 1};
  const mogem::snapshot at{12, 2, 2, means, variances, labels, 3};
  mogem::write_snapshot_means(dir.path("m"), at);
  mogem::write_snapshot_variances(dir.path("v"), at);
  mogem::write_snapshot_labels(dir.path("l"), at);
  EXPECT_EQ(dir.read("m"), "1.2346\t-2.0000\n0.1000\t100000.0000\n");
  EXPECT_EQ(dir.read("v"), "0.2500\t0.2500\n3.0000\t0.3333\n");
  EXPECT_EQ(dir.read("l"), "2\n1\n2\n");
}

TEST(Dumps, TheDataDumpEndsWithoutALineBreak) {
  scratch_dir dir;
  const double data[] = {1.0, -0.5, 2.25, 1e-7};
  mogem::write_transformed_data(dir.path("d"), data, 2, 2);
  EXPECT_EQ(dir.read("d"), "1.000000\t-0.500000\n2.250000\t0.000000");
}
