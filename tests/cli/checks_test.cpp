// The command line through the program: --help and --version; a short command line, results
// that would replace the input file (by name, by another path, through a hard link, as a model
// file or as a snapshot) and outputs that cannot be written are each refused before the data
// are read, and nothing in the directory changes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "io/settings.h"
#include "support/run_binary.h"

namespace {

std::string clash(const std::string &result, const std::string &input) {
  return "Error: the " + result + " is the input file " + input +
         "; choose another output name so that the input is not overwritten\n";
}

std::string unwritable(const std::string &file, const std::string &reason) {
  return "Error: could not write the file " + file + ": " + reason + "\n";
}

}  // namespace

TEST(InfoOptions, HelpAndVersionGoToStandardOutputAndSucceed) {
  scratch_dir dir;
  const run_result help = run_mogem(dir, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind(std::string("Usage: ") + MOGEM_BINARY + " fit DATA -k K [options]", 0), 0u);
  EXPECT_NE(help.out.find(std::string(MOGEM_BINARY) + " <input_file> <output_file>      the parameter-file form\n"),
            std::string::npos);
  for (const mogem::detail::setting &row : mogem::detail::settings_table())
    EXPECT_NE(help.out.find(std::string("\n  ") + row.key + " "), std::string::npos) << row.key;
  for (const char *part : {".means", ".variances", ".weights", ".probs", ".internal", "Exit codes", "255"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  const run_result version = run_mogem(dir, {"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("mogem ") + MOGEM_VERSION + "\n");
  EXPECT_EQ(version.err, "");
  EXPECT_TRUE(dir.files().empty());
}

TEST(Checks, RefusedBeforeTheDataAndNothingChanges) {
  // The inputs named like results; bad.txt holds a word the reader would refuse with exit 255,
  // so a refusal with exit 1 shows that the outputs were checked first.
  const std::string input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_model 1 output_internal 1 "
                            "output_stepsize 1 begin x 1 2";
  const std::string usage = std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n";
  const struct {
    std::vector<std::string> args;
    const char *directory;  // made in the scratch directory first, or ""
    int exit_code;
    std::string err;
  } cases[] = {
      // Any single argument but --help and --version is a short command line; with a second
      // argument "--help" is an input file name like any other.
      {{"--helpme"}, "", 255, usage},
      {{"--help", "labels.txt"}, "", 255, "Error: --help is not openable, errno is 2 (No such file or directory)\n"},
      {{"data.txt", "data.txt"}, "", 255, clash("output file data.txt", "data.txt")},
      {{"data.txt", "./data.txt"}, "", 255, clash("output file ./data.txt", "data.txt")},
      {{"data.txt", "hard.txt"}, "", 255, clash("output file hard.txt", "data.txt")},
      {{"run.probs", "run.txt"}, "", 255, clash("model file run.probs", "run.probs")},
      {{"out00001.means", "out.txt"}, "", 255, clash("snapshot out00001.means", "out00001.means")},
      {{"bad.txt", "nodir/labels.txt"}, "", 1, unwritable("nodir/labels.txt", "No such file or directory")},
      {{"bad.txt", "labels.txt"}, "labels.txt", 1, unwritable("labels.txt", "Is a directory")},
      {{"bad.txt", "labels.txt"}, "labels.variances", 1, unwritable("labels.variances", "Is a directory")},
      {{"bad.txt", "labels.txt"}, "labels.internal", 1, unwritable("labels.internal", "Is a directory")},
      {{"bad.txt", "labels.txt"}, "labels00002.means", 1, unwritable("labels00002.means", "Is a directory")},
      {{"bad.txt", "out/run.txt"}, "out/run00007.labels", 1, unwritable("out/run00007.labels", "Is a directory")},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    for (const char *name : {"data.txt", "run.probs", "out00001.means"}) dir.write(name, input);
    dir.write("bad.txt", input.substr(0, input.size() - 1) + "word");
    ASSERT_EQ(link(dir.path("data.txt").c_str(), dir.path("hard.txt").c_str()), 0);
    if (*c.directory) dir.make_dir(c.directory);
    const std::map<std::string, std::string> before = dir.contents();
    const run_result r = run_mogem(dir, c.args);
    const std::string where = c.args.back() + " " + c.directory;
    EXPECT_EQ(r.exit_code, c.exit_code) << where;
    EXPECT_EQ(r.err, c.err) << where;
    EXPECT_EQ(r.out, "") << where;
    EXPECT_EQ(dir.contents(), before) << where;
  }
}
