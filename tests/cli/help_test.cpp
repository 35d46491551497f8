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
