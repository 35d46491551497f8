// The progress line, seen through a pseudo-terminal as a user at a terminal would see it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"


namespace {

struct terminal_run {
  bool started = false;  // false when the system has no pseudo-terminal to give
  int exit_code = -1;
  std::string screen_bytes;  // everything the terminal received
};

// Runs mogem in dir with standard input, output and error on a new pseudo-terminal; with
// err_file set, standard error goes to that file instead.
terminal_run run_on_terminal(const scratch_dir &dir, const std::vector<std::string> &args, const char *err_file) {
  terminal_run result;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return result;
  result.started = true;
  if (pid == 0) {
    if (chdir(dir.root().c_str()) != 0) _exit(126);
    if (err_file) {
      int err = open(err_file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
    }
    std::vector<char *> argv{const_cast<char *>(MOGEM_BINARY)};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(MOGEM_BINARY, argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) result.screen_bytes.append(buffer, n);
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Whether nothing stays visible once the bytes are played onto lines, a carriage return going
// back to column 0.
bool leaves_screen_blank(const std::string &bytes) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (char c : bytes) {
    if (c == '\r' || c == '\n') {
      if (c == '\n') lines.emplace_back();
      column = 0;
    } else {
      if (lines.back().size() <= column) lines.back().resize(column + 1, ' ');
      lines.back()[column++] = c;
    }
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
    for (const scratch_dir *dir : {&tty, &plain}) dir->write("iris.txt", example_input(c.extra));
    terminal_run r = run_on_terminal(tty, {"iris.txt", "iris.labels"}, c.err_file);
    if (!r.started) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_EQ(r.exit_code, 0);
    if (c.first_bytes.empty()) {
      EXPECT_EQ(r.screen_bytes, "");
      EXPECT_EQ(tty.read("err.txt"), "");
    } else {
      EXPECT_EQ(r.screen_bytes.rfind(c.first_bytes, 0), 0u) << r.screen_bytes;
      EXPECT_TRUE(leaves_screen_blank(r.screen_bytes)) << r.screen_bytes;
    }
    run_result p = run_mogem(plain, {"iris.txt", "iris.labels"});
    ASSERT_EQ(p.exit_code, 0);
    EXPECT_EQ(p.err, "");
    for (const char *name : {"iris.labels", "iris.means", "iris.variances", "iris.weights", "iris.probs"})
      EXPECT_EQ(tty.read(name), plain.read(name)) << name;
  }
}
