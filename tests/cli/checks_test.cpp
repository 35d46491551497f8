// The checks before a run, through the program: results that would replace the input file
// (the same file by name, by another path, through a hard link, as a model file or as a
// snapshot), and outputs that cannot be created.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"

TEST(InputGuard, TheInputIsNeverOverwritten) {
  const std::string input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_model 1 begin x 1 2";
  scratch_dir dir;
  dir.write("data.txt", input);
  dir.write("run.probs", input);
  ASSERT_EQ(link(dir.path("data.txt").c_str(), dir.path("hard.txt").c_str()), 0);
  // The same file by name, by another path, through a hard link, and as a model file named
  // after the output.
  const char *const runs[][3] = {{"data.txt", "data.txt", "output file data.txt"},
                                 {"data.txt", "./data.txt", "output file ./data.txt"},
                                 {"data.txt", "hard.txt", "output file hard.txt"},
                                 {"run.probs", "run.txt", "model file run.probs"}};
  for (const auto &[in, out, clash] : runs) {
    run_result r = run_mogem(dir, {in, out});
    EXPECT_EQ(r.exit_code, 255) << out;
    EXPECT_EQ(r.err, std::string("Error: the ") + clash + " is the input file " + in +
                         "; choose another output name so that the input is not overwritten\n");
  }
  EXPECT_EQ(dir.read("data.txt"), input);
  EXPECT_EQ(dir.read("run.probs"), input);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"data.txt", "hard.txt", "run.probs"}));

  // A snapshot in the way ends the run when it is due; the snapshots before it stay.
  scratch_dir snap;
  const std::string snap_input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_stepsize 1 begin x 1 2";
  snap.write("out00001.means", snap_input);
  run_result r = run_mogem(snap, {"out00001.means", "out.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Error: the file out00001.means is the input file; it is not overwritten\n");
  EXPECT_EQ(snap.read("out00001.means"), snap_input);
  EXPECT_EQ(snap.files(),
            (std::vector<std::string>{"out00000.labels", "out00000.means", "out00000.variances", "out00001.means"}));
}

// Outputs that cannot be created are refused before the data are read: the data below hold a
// word, which the reader would refuse with exit code -1; the refusal comes first, with exit 1,
// and nothing is written.
TEST(FailFast, UnwritableOutputsAreRefusedBeforeTheData) {
  const std::string bad_data = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_model 1 output_internal 1 "
                               "output_stepsize 1 begin data 1 word";
  const struct {
    const char *directory;  // made in the scratch directory first, or ""
    const char *output;
    const char *message;
  } cases[] = {
      {"", "nodir/labels.txt", "Error: could not write the file nodir/labels.txt: No such file or directory\n"},
      {"labels.txt", "labels.txt", "Error: could not write the file labels.txt: Is a directory\n"},
      {"labels.variances", "labels.txt", "Error: could not write the file labels.variances: Is a directory\n"},
      {"labels.internal", "labels.txt", "Error: could not write the file labels.internal: Is a directory\n"},
      {"labels00002.means", "labels.txt", "Error: could not write the file labels00002.means: Is a directory\n"},
      {"out/run00007.labels", "out/run.txt", "Error: could not write the file out/run00007.labels: Is a directory\n"},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("input.txt", bad_data);
    if (*c.directory) dir.make_dir(c.directory);
    const run_result r = run_mogem(dir, {"input.txt", c.output});
    EXPECT_EQ(r.exit_code, 1) << c.output;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"}) << c.directory;
  }
}
