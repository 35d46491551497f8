// Outputs that cannot be created are refused before the data are read: the data below hold a
// word, which the reader would refuse with exit code -1; the refusal comes first, with exit 1,
// and nothing is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_binary.h"

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
