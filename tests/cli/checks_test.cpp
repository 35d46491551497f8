// The checks before a run, through the program: results that would replace the input file
// (the same file by name, by another path, through a hard link, as a model file or as a
// snapshot), and outputs that cannot be written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"

TEST(InputGuard, TheInputIsNeverOverwritten) {
  const std::string input =
      "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_model 1 output_stepsize 1 begin x 1 2";
  scratch_dir dir;
  for (const char *name : {"data.txt", "run.probs", "out00001.means"}) dir.write(name, input);
  ASSERT_EQ(link(dir.path("data.txt").c_str(), dir.path("hard.txt").c_str()), 0);
  // The same file by name, by another path, through a hard link, as a model file named after
  // the output, and as a snapshot the run would write: each refused before anything is written.
  const char *const runs[][3] = {{"data.txt", "data.txt", "output file data.txt"},
                                 {"data.txt", "./data.txt", "output file ./data.txt"},
                                 {"data.txt", "hard.txt", "output file hard.txt"},
                                 {"run.probs", "run.txt", "model file run.probs"},
                                 {"out00001.means", "out.txt", "snapshot out00001.means"}};
  for (const auto &[in, out, clash] : runs) {
    run_result r = run_mogem(dir, {in, out});
    EXPECT_EQ(r.exit_code, 255) << out;
    EXPECT_EQ(r.err, std::string("Error: the ") + clash + " is the input file " + in +
                         "; choose another output name so that the input is not overwritten\n");
  }
  for (const char *name : {"data.txt", "run.probs", "out00001.means"}) EXPECT_EQ(dir.read(name), input);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"data.txt", "hard.txt", "out00001.means", "run.probs"}));
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
