// The program as a user runs it with too few arguments. Its runs that fail on their input or
// their results are the conformance cases'; the messages come from the library and are tested
// with it.
#include <gtest/gtest.h>

#include "support/run_binary.h"

TEST(CommandLine, FewerThanTwoArgumentsPrintTheUsage) {
  const std::string usage = std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n";
  for (const std::vector<std::string> &args : {std::vector<std::string>{}, std::vector<std::string>{"input.txt"}}) {
    scratch_dir dir;
    dir.write("input.txt", "rows 1 cols 1 num_clusters 1 begin data 1");
    run_result r = run_mogem(dir, args);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.err, usage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
  }
}
