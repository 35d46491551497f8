#include "io/parameter_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "mogem/files.h"
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

// The rows of a parameter file read one of four ways, or the refusal.
enum class way { file, pipe, blocks, processes };

struct rows_read {
  std::vector<double> data;
  std::string error;
};

// Read over `size` processes, each its byte range of the data section: the shares in rank
// order, or the failure, which every process must report alike.
rows_read read_shares(const std::string &path, int size) {
  std::vector<mogem::parameter_file> shares(size);
  std::vector<std::string> failures(size);
  run_as_processes(size, [&](const mogem::process_group &group) {
    try {
      shares[group.rank] = mogem::read_parameter_file(path, mogem::reader_callbacks{}, group);
    } catch (const mogem::error &e) {
      failures[group.rank] = e.what();
    }
  });
  rows_read r{{}, failures[0]};
  for (int rank = 0; rank < size; rank++) {
    EXPECT_EQ(failures[rank], failures[0]) << "process " << rank << " of " << size;
    EXPECT_EQ(shares[rank].first_row * shares[rank].cols, r.data.size()) << "process " << rank << " of " << size;
    r.data.insert(r.data.end(), shares[rank].data.begin(), shares[rank].data.end());
  }
  return r;
}

rows_read read_rows(const scratch_dir &dir, const std::string &content, way how, int processes) {
  dir.write("input.txt", content);
  std::string path = dir.path("input.txt");
  if (how == way::processes) return read_shares(path, processes);
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

// A regular file (read in pieces on threads), a pipe (read in order), rows streamed in blocks
// and shares read by 2, 3 or 5 processes give the same rows, or the same refusal naming the
// first bad value; a file declaring a matrix of terabytes in a few bytes is refused so too,
// without allocating the matrix first.
TEST(DataReader, FilesPipesBlocksAndProcessesReadTheSameRows) {
  scratch_dir dir;
  std::string many = "rows 40000 cols 2 num_clusters 2 begin data\n";  // several blocks and runs
  std::vector<double> many_rows;
  for (int i = 0; i < 80000; i++) {
    many += std::to_string(i % 97) + (i % 2 ? "\n" : " ");
    many_rows.push_back(i % 97);
  }
  const std::string tail = " (the file must hold 3 rows of 2 numbers after \"begin\" and its value)";
  const std::string huge = " (the file must hold 1000000000 rows of 1000 numbers";
  const struct {
    std::string content;
    std::vector<double> data;
    std::string error;
    bool pipe = true;  // from a pipe the declared matrix is taken at once: no huge ones there
  } cases[] = {
      {"rows 3\tcols 2\r\n num_clusters\t\t2\r\n\r\nbegin x\r\n1 2\r3\n4 5 6 7", {1, 2, 3, 4, 5, 6}, ""},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3 abc 5 6", {}, "row 2, column 2 is not a number" + tail},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3", {}, "row 2, column 2 is missing" + tail},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3 4 1e5x", {}, "row 3, column 2 is not a number" + tail},
      {"rows 3 cols 2 num_clusters 2 begin x 1 2 3 4 5 6 7 8 abc", {1, 2, 3, 4, 5, 6}, ""},
      {many, many_rows, ""},
      {many.substr(0, many.size() - 3), {}, "row 40000, column 2 is missing"},
      {"rows 1000000000 cols 1000 num_clusters 2 begin x 1 2 3", {}, "row 1, column 4 is missing" + huge, false},
      {"rows 1000000000 cols 1000 num_clusters 2 begin x", {}, "row 1, column 1 is missing" + huge, false},
      {"rows 1000000000 cols 1000 num_clusters 2 begin x 1 2 1e5x", {}, "row 1, column 4 is not a number" + huge,
       false},
  };
  for (const auto &c : cases) {
    for (const auto &[how, processes] : {std::pair<way, int>{way::file, 1}, {way::pipe, 1}, {way::blocks, 1},
                                         {way::processes, 2}, {way::processes, 3}, {way::processes, 5}}) {
      if (how == way::pipe && !c.pipe) continue;
      const rows_read r = read_rows(dir, c.content, how, processes);
      const std::string where = c.content.substr(0, 60) + ", way " + std::to_string(static_cast<int>(how)) +
                                " on " + std::to_string(processes);
      if (c.error.empty()) {
        EXPECT_EQ(r.error, "") << where;
        EXPECT_EQ(r.data, c.data) << where;
      } else {
        EXPECT_NE(r.error.find(c.error), std::string::npos) << where << " gave " << r.error;
      }
    }
  }
}

// (A path that does not exist: the program's checks test its message.)
TEST(DataReader, ADirectoryIsRefusedWithItsReason) {
  scratch_dir dir;
  dir.make_dir("folder");
  const call_outcome outcome = capture([&] { mogem::read_parameter_file(dir.path("folder")); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error in parameter file " + dir.path("folder") + ": could not be read (Is a directory)\n");
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
      {std::string(512, 'k') + " 1 " + head + tail, "a token is longer than 511 characters"},
      {head + "num_restarts 0" + tail, "\"num_restarts\" is \"0\"; it must be a whole number from 1 to 100000"},
      {head + "num_restarts 3x" + tail, "\"num_restarts\" is \"3x\""},
      {head + "reg_covar -1" + tail, "\"reg_covar\" is \"-1\"; it must be a number of 0 or more"},
      {head + "convergence_threshold nan reg_covar -1" + tail, "\"convergence_threshold\" is \"nan\""},
      {head + "init_params kmeans++" + tail,
       "\"init_params\" is \"kmeans++\"; it must be init_method, kmeans, k-means++, random_responsibilities or"},
      {head + "kmeans_iterations -1" + tail, "\"kmeans_iterations\" is \"-1\"; it must be a whole number of 0 or more"},
      {head + "stop_rule Loglik tol -1" + tail, "\"stop_rule\" is \"Loglik\"; it must be weights or loglik"},
      {head + "stop_rule loglik tol 1e-3x" + tail, "\"tol\" is \"1e-3x\"; it must be a number of 0 or more"},
      {head + "select_classes 4:2" + tail, "\"select_classes\" is \"4:2\"; it must be A:B"},
      {head + "select_classes 1:3 select_em_types full,round" + tail, "\"select_em_types\" is \"full,round\""},
      {head + "select_classes 1:3 select_criterion bcd" + tail, "\"select_criterion\" is \"bcd\"; it must be bic, aic or icl"},
      {head + "select_criterion aic" + tail, "select_em_types and select_criterion need select_classes"},
      {head + "init_method model" + tail, "init_method model needs the key \"init_model\""},
      {head + "predict_with m.json num_restarts 2 model_file m2.json" + tail,
       "predict_with labels the rows with a saved model and fits nothing; \"model_file\" belongs to a fit"},
  };
  for (const auto &c : cases) {
    read_outcome r = read_file(dir, c.content);
    EXPECT_EQ(r.call.exit_code, -1) << c.content;
    EXPECT_NE(r.call.err.find("Error in parameter file " + file + ": " + c.message), std::string::npos)
        << c.content << " gave " << r.call.err;
  }
  // Without num_clusters, a selection reads as it is; values of 0 pass the checks of 0 or more.
  const read_outcome r = read_file(dir, "rows 3 cols 2 select_classes 1:3 select_em_types scalar,tied num_restarts 4"
                                  " reg_covar 1e-6 convergence_threshold 0 variance_floor 0 init_params k-means++"
                                  " init_method random_means kmeans_iterations 0 stop_rule loglik tol 0" + tail);
  ASSERT_EQ(r.call.exit_code, call_outcome::no_exit) << r.call.err;
  EXPECT_TRUE(r.file.select);
  EXPECT_EQ(r.file.selection.max_classes, 3);
  EXPECT_EQ(r.file.selection.kinds,
            (std::vector<mogem::covariance_kind>{mogem::covariance_kind::scalar, mogem::covariance_kind::tied}));
  EXPECT_EQ(r.file.settings.convergence_threshold, 0.0);
  EXPECT_EQ(r.file.settings.variance_floor, 0.0);
  EXPECT_EQ(r.file.settings.init, mogem::initialization::kmeans_plus_plus);  // whichever key comes last
  EXPECT_EQ(r.file.settings.kmeans_iterations, 0);
  EXPECT_EQ(r.file.settings.stop, mogem::stop_rule::loglik);
  EXPECT_EQ(r.file.settings.tol, 0.0);
}
