#include "io/parameter_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "mogem/mogem.h"
#include "support/capture.h"
#include "support/run_binary.h"
#include "support/thread_processes.h"

using namespace mogem::detail;

namespace {

struct read_outcome {
  call_outcome call;
  mogem::parameter_file file;
};

read_outcome read_file(const scratch_dir &dir, const std::string &content) {
  dir.write("input.txt", content);
  read_outcome r;
  std::string input = dir.path("input.txt");
  r.call = capture([&] { r.file = mogem::read_parameter_file(input, warn_on_stderr); });
  return r;
}

const char *const small = "rows 3 cols 2 num_clusters 2 begin data 1 2 3 4 5 6";

}  // namespace

namespace {

// The rows of a parameter file read one of three ways, or the refusal.
enum class way { file, pipe, blocks };

struct rows_read {
  std::vector<double> data;
  std::string error;
};

rows_read read_rows(const scratch_dir &dir, const std::string &content, way how) {
  dir.write("input.txt", content);
  std::string path = dir.path("input.txt");
  int ends[2] = {-1, -1};
  if (how == way::pipe) {  // the whole content waits in the pipe, its writing end closed
    EXPECT_EQ(pipe(ends), 0);
    EXPECT_GE(fcntl(ends[1], F_SETPIPE_SZ, 1 << 20), static_cast<int>(content.size()));
    EXPECT_EQ(write(ends[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(ends[1]);
    path = "/proc/self/fd/" + std::to_string(ends[0]);
  }
  rows_read r;
  mogem::reader_callbacks hooks;
  std::size_t cols = 0;
  if (how == way::blocks) {
    hooks.stream_rows = [&](const mogem::parameter_file &header) { return (cols = header.cols) > 0; };
    hooks.on_rows = [&](const double *values, std::size_t rows) {
      EXPECT_LE(rows, static_cast<std::size_t>(ROWS_PER_BLOCK));
      r.data.insert(r.data.end(), values, values + rows * cols);
    };
  }
  try {
    mogem::parameter_file file = mogem::read_parameter_file(path, hooks);
    if (how != way::blocks) r.data = file.data;
  } catch (const mogem::error &e) {
    r.error = e.what();
  }
  if (ends[0] >= 0) close(ends[0]);
  return r;
}

}  // namespace

// A regular file (read in pieces on threads), a pipe (read in order) and rows streamed in
// blocks give the same rows, or the same refusal naming the first bad value.
TEST(DataReader, FilesPipesAndBlocksReadTheSameRows) {
  scratch_dir dir;
  std::string many = "rows 40000 cols 2 num_clusters 2 begin data\n";  // several blocks and runs
  std::vector<double> many_rows;
  for (int i = 0; i < 80000; i++) {
    many += std::to_string(i % 97) + (i % 2 ? "\n" : " ");
    many_rows.push_back(i % 97);
  }
  const std::string tail = " (the file must hold 3 rows of 2 numbers after \"begin\" and its value)";
  const struct {
    std::string content;
    std::vector<double> data;
    std::string error;
  } cases[] = {
      {"rows 3\tcols 2\r\n num_clusters\t\t2\r\n\r\nbegin x\r\n1 2\r3\n4 5 6 7", {1, 2, 3, 4, 5, 6}, ""},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3 abc 5 6", {}, "row 2, column 2 is not a number" + tail},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3", {}, "row 2, column 2 is missing" + tail},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3 4 1e5x", {}, "row 3, column 2 is not a number" + tail},
      {many, many_rows, ""},
      {many.substr(0, many.size() - 3), {}, "row 40000, column 2 is missing"},
  };
  for (const auto &c : cases) {
    for (way how : {way::file, way::pipe, way::blocks}) {
      const rows_read r = read_rows(dir, c.content, how);
      const std::string where = c.content.substr(0, 60) + ", way " + std::to_string(static_cast<int>(how));
      if (c.error.empty()) {
        EXPECT_EQ(r.error, "") << where;
        EXPECT_EQ(r.data, c.data) << where;
      } else {
        EXPECT_NE(r.error.find(c.error), std::string::npos) << where << " gave " << r.error;
      }
    }
  }
}

TEST(DataReader, UnreadablePathsNameTheirReason) {
  scratch_dir dir;
  dir.make_dir("folder");
  const std::pair<std::string, std::string> cases[] = {
      {"/nonexistent/input.txt", "Error: /nonexistent/input.txt is not openable, errno is 2 (No such file or directory)\n"},
      {dir.path("folder"), "Error in parameter file " + dir.path("folder") + ": could not be read (Is a directory)\n"},
  };
  for (const auto &[path, message] : cases) {
    call_outcome outcome = capture([&] { mogem::read_parameter_file(path); });
    EXPECT_EQ(outcome.exit_code, -1);
    EXPECT_EQ(outcome.err, message);
  }
}

namespace {

// Runs on files that declare more values than they hold have an address-space cap far below
// the matrices they declare: a reader that allocated those would fail with a numerical error.
run_setup capped() {
  run_setup setup;
  setup.environment = {"MOGEM_THREADS=1"};  // no worker stacks to map
  setup.address_space = 256ull << 20;
  return setup;
}

std::string refusal(const char *place, const char *what, const char *rows, const char *cols) {
  return std::string("Error: Could not read data from the parameter file input.txt: ") + place + " is " + what +
         " (the file must hold " + rows + " rows of " + cols + " numbers after \"begin\" and its value)\n";
}

}  // namespace

// A file too short for the matrix its counts declare is refused at its first value that is
// missing or not a number, with the message a complete read gives, without allocating the
// matrix first.
TEST(DataReader, AHugeMatrixInAFewBytesIsRefusedAtItsFirstBadValue) {
  if (address_sanitized) GTEST_SKIP() << "no address-space cap under AddressSanitizer";
  const struct {
    const char *rows, *cols, *data, *place, *what;
  } cases[] = {
      {"100000000", "100000", "1 2 3", "row 1, column 4", "missing"},       // 80 TB
      {"1000000000", "1", "1\n2\n", "row 3, column 1", "missing"},          // 8 GB
      {"100000", "1000", "1 2 3 4 5 6 7", "row 1, column 8", "missing"},    // 800 MB
      {"2000000", "3", "0 0 0  1 1 1\n2 2", "row 3, column 3", "missing"},  // 48 MB, within the cap
      {"50000000", "2", "", "row 1, column 1", "missing"},
      {"100000000", "3", "1 2 3 4 x 6", "row 2, column 2", "not a number"},
      {"100000000", "3", "1 2 3 4 1e5x", "row 2, column 3", "not a number"},  // 1e5 is read, then x is no number
      {"100000000", "3", "1-2 3 - 4", "row 2, column 1", "not a number"},     // 1 and -2 share a token
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("input.txt", std::string("rows ") + c.rows + " cols " + c.cols + " num_clusters 2 begin data " + c.data);
    const run_result r = run_mogem(dir, {"input.txt", "labels.txt"}, capped());
    EXPECT_EQ(r.exit_code, 255) << c.rows << " x " << c.cols;
    EXPECT_EQ(r.err, refusal(c.place, c.what, c.rows, c.cols));
    EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
  }
}

// Read over several processes, each its byte range of the data section: the shares in rank
// order are the rows of the whole file, bit for bit, and every process fails with the message
// of the whole file's reading, whatever the number of processes.
TEST(ParameterFile, SharesOfTheDataAreTheRowsOfTheWholeFile) {
  scratch_dir dir;
  std::string rows;
  for (int i = 0; i < 40; i++) rows += std::to_string(i * 0.37) + " -" + std::to_string(i) + "e-3\t0x1p" + std::to_string(i % 5) + "\n";
  const std::string texts[] = {
      "rows 40 cols 3 num_clusters 2 begin data\n" + rows,
      "rows 40 cols 3 num_clusters 2 begin data\n" + rows + " 7 8 abc",          // numbers after the last
      "rows 41 cols 3 num_clusters 2 begin data\n" + rows + "1 2",                // one value missing
      "rows 40 cols 3 num_clusters 2 begin data\n" + rows.substr(0, 300) + "1e5x" + rows.substr(300),
      "rows 120 cols 1 num_clusters 2 begin data " + rows,
      "rows 2 cols 2 num_clusters 2 begin data 1 2 3 4",                          // fewer rows than processes
  };
  for (const std::string &text : texts) {
    dir.write("input.txt", text);
    const std::string input = dir.path("input.txt");
    std::string whole_failure;
    mogem::parameter_file whole;
    try {
      whole = mogem::read_parameter_file(input);
    } catch (const mogem::error &e) {
      whole_failure = e.what();
    }
    for (int size : {2, 3, 5}) {
      std::vector<mogem::parameter_file> shares(size);
      std::vector<std::string> failures(size);
      run_as_processes(size, [&](const mogem::process_group &group) {
        try {
          shares[group.rank] = mogem::read_parameter_file(input, mogem::reader_callbacks{}, group);
        } catch (const mogem::error &e) {
          failures[group.rank] = e.what();
        }
      });
      std::vector<double> joined;
      for (int r = 0; r < size; r++) {
        EXPECT_EQ(failures[r], whole_failure) << size << " processes, text " << &text - texts;
        if (whole_failure.empty()) {
          EXPECT_EQ(shares[r].first_row * whole.cols, joined.size()) << "process " << r;
        }
        joined.insert(joined.end(), shares[r].data.begin(), shares[r].data.end());
      }
      if (!whole_failure.empty()) continue;
      ASSERT_EQ(joined.size(), whole.data.size());
      EXPECT_EQ(std::memcmp(joined.data(), whole.data.data(), joined.size() * sizeof(double)), 0);
    }
  }
}

// Parameter sections that end early, lack a count, or hold values or keys that cannot run:
// each refusal names the file and the problem (the key, the value and what it must be).
TEST(DataReader, BrokenParameterSectionsNameTheProblem) {
  scratch_dir dir;
  const std::string file = dir.path("input.txt");
  const std::string head = "rows 3 cols 2 num_clusters 2 ", tail = " begin data 1 2 3 4 5 6";
  const struct {
    std::string content, message;
  } cases[] = {
      {"", "the file is empty"},
      {"rows 6 cols 2 num_clusters", "the file ends after a key that has no value"},
      {"rows 6 cols 2 num_clusters 2", "the file ends before the \"begin\" pair"},
      {"rows 6 cols 2 begin data 1 2", "the key \"num_clusters\" is missing"},
      {"rows 3 cols 0 num_clusters 2 begin data 1 2", "\"cols\" is 0; it must be a positive integer"},
      {std::string(512, 'k') + " 1 " + small, "a token is longer than 511 characters"},
      {head + "num_restarts 0" + tail, "\"num_restarts\" is \"0\"; it must be a whole number from 1 to 100000"},
      {head + "num_restarts 3x" + tail, "\"num_restarts\" is \"3x\""},
      {head + "reg_covar -1" + tail, "\"reg_covar\" is \"-1\"; it must be a number of 0 or more"},
      {head + "convergence_threshold nan reg_covar -1" + tail, "\"convergence_threshold\" is \"nan\""},
      {head + "variance_floor -0.5" + tail, "\"variance_floor\" is \"-0.5\"; it must be a number of 0 or more"},
      {head + "select_classes 4:2" + tail, "\"select_classes\" is \"4:2\"; it must be A:B"},
      {head + "select_classes 1:3 select_em_types full,round" + tail, "\"select_em_types\" is \"full,round\""},
      {head + "select_classes 1:3 select_criterion bcd" + tail, "\"select_criterion\" is \"bcd\"; it must be bic, aic or icl"},
      {head + "select_criterion aic" + tail, "select_em_types and select_criterion need select_classes"},
      {head + "init_method model" + tail, "init_method model needs the key \"init_model\""},
      {head + "predict_with m.json num_restarts 2 model_file m2.json" + tail,
       "predict_with labels the rows with a saved model and fits nothing; \"model_file\" belongs to a fit"},
      {head + "predict_with m.json variance_floor 0" + tail,
       "predict_with labels the rows with a saved model and fits nothing; \"variance_floor\" belongs to a fit"},
  };
  for (const auto &c : cases) {
    read_outcome r = read_file(dir, c.content);
    EXPECT_EQ(r.call.exit_code, -1) << c.content;
    EXPECT_NE(r.call.err.find("Error in parameter file " + file + ": " + c.message), std::string::npos)
        << c.content << " gave " << r.call.err;
  }
  // Without num_clusters, a selection reads as it is; the values land in the record.
  const read_outcome r = read_file(dir, "rows 3 cols 2 select_classes 1:3 select_em_types scalar,full num_restarts 4"
                                  " reg_covar 1e-6 convergence_threshold 0 variance_floor 0" + tail);
  ASSERT_EQ(r.call.exit_code, call_outcome::no_exit) << r.call.err;
  EXPECT_TRUE(r.file.select);
  EXPECT_EQ(r.file.selection.max_classes, 3);
  EXPECT_EQ(r.file.selection.kinds.size(), 2u);
  EXPECT_EQ(r.file.settings.restarts, 4);
  EXPECT_EQ(r.file.settings.reg_covar, 1e-6);
  EXPECT_EQ(r.file.settings.convergence_threshold, 0.0);
  EXPECT_EQ(r.file.settings.variance_floor, 0.0);
}
