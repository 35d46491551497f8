// `mogem --help` and `mogem --version`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "io/settings.h"
#include "support/run_binary.h"

using namespace mogem::detail;

TEST(InfoOptions, HelpAndVersionGoToStandardOutputAndSucceed) {
  scratch_dir dir;
  run_result help = run_mogem(dir, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind(std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n", 0), 0u);
  for (const setting &row : settings_table())
    EXPECT_NE(help.out.find(std::string("\n  ") + row.key + " "), std::string::npos) << row.key;
  for (const char *part : {".means", ".variances", ".weights", ".probs", ".internal", "Exit codes", "255"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;

  run_result version = run_mogem(dir, {"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("mogem ") + MOGEM_VERSION + "\n");
  EXPECT_EQ(version.err, "");
  EXPECT_TRUE(dir.files().empty());
}

// Fewer than two arguments print the usage and touch nothing; any single argument but the two
// options is such a short command line.
TEST(InfoOptions, OnlyAsTheSoleArgument) {
  scratch_dir dir;
  dir.write("input.txt", "rows 1 cols 1 num_clusters 1 begin data 1");
  // (No argument and the input alone are the cli-no-arguments and cli-only-input-file cases.)
  run_result usage = run_mogem(dir, {"--helpme"});
  EXPECT_EQ(usage.exit_code, 255);
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err, std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n");
  EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
  // With a second argument "--help" is an input file name like any other.
  run_result r = run_mogem(dir, {"--help", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("--help is not openable"), std::string::npos) << r.err;
}
