// Where the program's results land when their names are not plain files: a link to a
// descriptor of the process or to a pipe, and results that share a name.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "support/run_binary.h"

namespace {

const std::string input = "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\n";
const std::string data = "begin data\n0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";
const std::string labels = "2\n2\n2\n1\n1\n1\n";

bool is_link(const scratch_dir &dir, const std::string &name) {
  struct stat st;
  return lstat(dir.path(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

// A link to the process's standard output (through /proc or /dev/fd) or to a pipe is written
// through and stays a link: the labels reach the pipe, or the end of a log opened to append.
TEST(SpecialOutputs, LinksToDescriptorsAndPipesAreWrittenThroughAndStay) {
  const struct {
    const char *script;  // $1: the program; run in a directory holding input.txt
    const char *link;
    std::string out, log;  // what standard output and the file "log" hold afterwards
  } cases[] = {
      {"ln -s /proc/self/fd/1 mystdout && \"$1\" input.txt mystdout | cat", "mystdout", labels, ""},
      {"ln -s /dev/fd/1 fdout && \"$1\" input.txt fdout | cat", "fdout", labels, ""},
      {"ln -s /proc/self/fd/1 mystdout && echo old >log && \"$1\" input.txt mystdout >>log", "mystdout", "",
       "old\n" + labels},
      {"mkfifo fifo && ln -s fifo tofifo && { cat fifo & \"$1\" input.txt tofifo; s=$?; wait; exit $s; }", "tofifo",
       labels, ""},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("input.txt", input + data);
    const run_result r = run_executable(dir, "/bin/sh", {"-c", c.script, "sh", MOGEM_BINARY});
    EXPECT_EQ(r.exit_code, 0) << c.script << "\n" << r.err;
    EXPECT_EQ(r.err, "") << c.script;
    EXPECT_EQ(r.out, c.out) << c.script;
    EXPECT_TRUE(is_link(dir, c.link)) << c.script;
    std::map<std::string, std::string> files = {{"input.txt", input + data}};
    if (!c.log.empty()) files["log"] = c.log;
    EXPECT_EQ(dir.contents(), files) << c.script;
  }
}

// Results that share a name are each written whole, and the later wins, the labels file over
// every other: the files are those of a run with distinct names, the winner's bytes under the
// shared name.
TEST(SharedNames, TheLabelsFileWinsThenTheLaterResult) {
  scratch_dir fit;
  fit.write("fit.txt", input + "model_file m.json\n" + data);
  ASSERT_EQ(run_mogem(fit, {"fit.txt", "fit.labels"}).exit_code, 0);
  const struct {
    std::string settings;
    std::string output;  // named like another result
    std::string plain;   // the output of the run with distinct names
    std::string shared;  // the shared name
    std::string winner;  // the file of the run with distinct names whose bytes it gets
    std::string gone;    // the file of that run that has no name of its own here
  } cases[] = {
      {"output_model 1\n", "run.means", "run.txt", "run.means", "run.txt", "run.txt"},
      {"output_internal 1\n", "y.internal", "y.txt", "y.internal", "y.txt", "y.txt"},
      {"output_summary 1\nmodel_file run.summary.json\n", "run.txt", "run.txt", "run.summary.json",
       "run.summary.json", "other.json"},
      {"output_model 1\nmodel_file run.means\n", "run.txt", "run.txt", "run.means", "other.json", "other.json"},
      {"predict_with m.json\noutput_model 1\n", "p.probs", "p.txt", "p.probs", "p.txt", "p.txt"},
  };
  for (const auto &c : cases) {
    std::map<std::string, std::string> expected;
    for (bool plain : {true, false}) {
      scratch_dir dir;
      dir.write("m.json", fit.read("m.json"));
      std::string settings = c.settings;
      // With distinct names the saved model goes elsewhere.
      if (plain && settings.find("model_file") != std::string::npos)
        settings = settings.substr(0, settings.find("model_file")) + "model_file other.json\n";
      dir.write("input.txt", input + settings + data);
      const run_result r = run_mogem(dir, {"input.txt", plain ? c.plain : c.output});
      ASSERT_EQ(r.exit_code, 0) << c.output << "\n" << r.err;
      EXPECT_EQ(r.err, "") << c.output;
      std::map<std::string, std::string> left = dir.contents();
      left.erase("input.txt");  // the settings differ where the saved model goes
      if (plain) {
        expected = left;
        expected[c.shared] = expected.at(c.winner);
        expected.erase(c.gone);
      } else {
        EXPECT_EQ(left, expected) << c.output;
      }
    }
  }
}
