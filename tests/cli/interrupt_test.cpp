// SIGINT and SIGTERM sent to the program while it reads, fits and writes: it stops at the next
// safe point, leaves the earlier results as they were and no file of its own but complete
// snapshots, and ends with 128 + the signal.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/run_binary.h"

namespace {

// The program started in dir with standard error to dir/err.
pid_t start_mogem(const scratch_dir &dir, const std::string &input) {
  return start_executable(dir, MOGEM_BINARY, {input, "labels.txt"}, {}, "/dev/null", "err");
}

// Waits (at most 30 s) until the file `name` is in dir.
bool appears(const scratch_dir &dir, const std::string &name) {
  for (int tries = 0; tries < 30000; tries++) {
    if (dir.exists(name)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Rows of two numbers, no two alike, in eight loose groups: EM takes many steps to settle.
std::string rows_of_numbers(int first, int count) {
  std::string text;
  char line[64];
  for (int i = first; i < first + count; i++) {
    std::snprintf(line, sizeof line, "%d.%06d %d.%06d\n", i % 8, i % 1000000, (i / 8) % 8,
                  static_cast<int>((i * 104729LL) % 1000000));
    text += line;
  }
  return text;
}

const std::string earlier_labels = "an earlier run's labels\n";

// What every interrupted run leaves: the earlier labels, no model file, no temporary.
void expect_nothing_written(const scratch_dir &dir) {
  EXPECT_EQ(dir.read("labels.txt"), earlier_labels);
  for (const std::string &name : dir.files()) {
    EXPECT_EQ(name.find(".mogem-tmp."), std::string::npos) << name;
    EXPECT_EQ(name.find(".probs"), std::string::npos) << name;
  }
  EXPECT_NE(dir.read("err").find("Interrupted"), std::string::npos) << dir.read("err");
}

}  // namespace

TEST(Interrupt, WhileReading) {
  // The input comes through a pipe, so the program is reading when the signal arrives.
  scratch_dir dir;
  dir.write("labels.txt", earlier_labels);
  const std::string fifo = dir.path("input.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t pid = start_mogem(dir, "input.fifo");
  FILE *pipe = std::fopen(fifo.c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  const std::string head = "rows 20000 cols 2 num_clusters 2 max_em_iterations 5 output_model 1 begin data\n";
  std::fputs((head + rows_of_numbers(0, 100)).c_str(), pipe);
  std::fflush(pipe);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fputs(rows_of_numbers(100, 19900).c_str(), pipe);  // the reader stops at its next block of rows
  std::fclose(pipe);
  EXPECT_EQ(wait_for(pid), 130);  // the one SIGINT above
  expect_nothing_written(dir);
}

// While fitting, a snapshot at every step shows the fit under way, and the run stops at the next
// step; while writing 300,000 rows of eight posteriors, it stops before the next file.
TEST(Interrupt, WhileFittingAndWhileWriting) {
  const struct {
    int rows, iterations, step;  // step: > 0 for a snapshot at every step
    std::string under_way;       // the file whose appearance shows the run is where it should be
    int signal;
  } cases[] = {{20000, 100000, 1, "labels00002.labels", SIGTERM}, {300000, 2, 0, "labels.probs.mogem-tmp.", SIGINT}};
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("labels.txt", earlier_labels);
    dir.write("input.txt", "rows " + std::to_string(c.rows) + " cols 2 num_clusters 8 max_em_iterations " +
                               std::to_string(c.iterations) + " output_model 1 output_stepsize " +
                               std::to_string(c.step) + " init_method random_point begin data\n" +
                               rows_of_numbers(0, c.rows));
    const pid_t pid = start_mogem(dir, "input.txt");
    const std::string under_way = c.step ? c.under_way : c.under_way + std::to_string(pid);
    ASSERT_TRUE(appears(dir, under_way)) << under_way;
    kill(pid, c.signal);
    EXPECT_EQ(wait_for(pid), 128 + c.signal);
    expect_nothing_written(dir);
    EXPECT_FALSE(dir.exists("labels.means"));
    // The snapshots taken so far are complete: as many labels as rows.
    if (c.step) {
      const std::string snapshot = dir.read(under_way);
      EXPECT_EQ(std::count(snapshot.begin(), snapshot.end(), '\n'), c.rows);
    }
  }
}
