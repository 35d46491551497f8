// The guard against results that would replace the input file, through the program: the
// same file by name, by another path, through a hard link, as a model file or as a snapshot.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

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

  // A snapshot in the way is skipped and reported; the rest of the run is written.
  scratch_dir snap;
  const std::string snap_input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_stepsize 1 begin x 1 2";
  snap.write("out00001.means", snap_input);
  run_result r = run_mogem(snap, {"out00001.means", "out.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Error: the file out00001.means is the input file; it is not overwritten\n");
  EXPECT_EQ(snap.read("out00001.means"), snap_input);
  EXPECT_EQ(snap.read("out.txt"), "1\n1\n");
}
