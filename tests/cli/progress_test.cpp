// The progress line, seen through a pseudo-terminal as a user at a terminal would see it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run_binary.h"

namespace {

// Runs mogem in dir on a new pseudo-terminal (standard error to err_file instead when given):
// everything the terminal received, or nullopt when the system has no pseudo-terminal to give.
std::optional<std::string> run_on_terminal(const scratch_dir &dir, const std::vector<std::string> &args,
                                           const char *err_file) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    if (chdir(dir.root().c_str()) != 0) _exit(126);
    if (err_file) dup2(open(err_file, O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char *> argv{const_cast<char *>(MOGEM_BINARY)};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(MOGEM_BINARY, argv.data());
    _exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);
  close(master);
  EXPECT_EQ(wait_for(pid), 0) << screen;
  return screen;
}

// Whether nothing stays visible once the bytes are played onto lines, a carriage return going
// back to column 0.
bool leaves_screen_blank(const std::string &bytes) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (char c : bytes) {
    if (c == '\n') lines.emplace_back();
    if (c == '\r' || c == '\n') {
      column = 0;
      continue;
    }
    if (lines.back().size() <= column) lines.back().resize(column + 1, ' ');
    lines.back()[column++] = c;
  }
  for (const auto &line : lines)
    if (line.find_first_not_of(' ') != std::string::npos) return false;
  return true;
}

std::string example_input(const std::string &extra) { return extra + source_file("examples/iris.txt"); }

}  // namespace

// On a terminal the line shows the first step and is erased at the end, and the files are
// those of a run that shows no line; with standard error elsewhere nothing is shown.
TEST(Progress, ShownOnATerminalAndErasedAtTheEnd) {
  const struct {
    std::string extra;        // settings before the example's
    const char *err_file;     // standard error to this file instead of the terminal
    std::string first_bytes;  // what the terminal shows first; "": nothing at all
  } cases[] = {
      {"", nullptr, "\rEM step 0, weight change 0.295"},
      {"algorithm em_annealing\n", nullptr, "\rannealing: temperature 10, 1 of 3 classes, EM step 0, weight change 0.667"},
      {"", "err.txt", ""},
  };
  for (const auto &c : cases) {
    scratch_dir tty, plain;
    tty.write("iris.txt", example_input(c.extra));
    const std::optional<std::string> screen = run_on_terminal(tty, {"iris.txt", "iris.labels"}, c.err_file);
    if (!screen) GTEST_SKIP() << "no pseudo-terminal available";
    if (c.first_bytes.empty()) {
      EXPECT_EQ(*screen + tty.read("err.txt"), "");
    } else {
      EXPECT_EQ(screen->rfind(c.first_bytes, 0), 0u) << *screen;
      EXPECT_TRUE(leaves_screen_blank(*screen)) << *screen;
    }
    ASSERT_TRUE(runs_cleanly(plain, "iris", example_input(c.extra)));
    for (const char *name : {"iris.labels", "iris.means", "iris.variances", "iris.weights", "iris.probs"})
      EXPECT_EQ(tty.read(name), plain.read(name)) << name;
  }
}

// The commands' line: the restart, the step against its budget, the change of the
// log-likelihood (infinite at the first step) and the time; erased at the end.
TEST(Progress, CommandsShowTheStepOfTheBudget) {
  scratch_dir tty;
  tty.write("iris.csv", source_file("examples/iris_features.csv"));
  const std::optional<std::string> screen = run_on_terminal(tty, {"fit", "iris.csv", "-k", "3", "-q", "-o", "r"}, nullptr);
  if (!screen) GTEST_SKIP() << "no pseudo-terminal available";
  EXPECT_EQ(screen->rfind("\rrestart 1 of 3: EM step 1 of 100, log-likelihood change inf, 0.", 0), 0u) << *screen;
  EXPECT_TRUE(leaves_screen_blank(*screen)) << *screen;
}
