// Failures while the program writes its results, through the real binary: every write, fsync,
// close and rename of a fit, a selection and (MOGEM_MPI_BINARY) a fit over two processes made
// to fail in turn (tests/support/fault_shim.cpp); a disk that fills up; memory that runs out.
// A failing run names the file and why, leaves no temporary and every older file as it was,
// but one a rename already replaced by its complete new version; a snapshot left is complete.
// A run that succeeds despite the fault leaves exactly the files of a clean run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

#ifndef MOGEM_FAULT_SHIM
#define MOGEM_FAULT_SHIM ""  // a sanitizer build: its runtime must be loaded first, so no shim
#endif

const std::string rows = "begin data\n0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";

// A run to sweep: its input and an older run's results, each different from what it writes.
struct sweep {
  const char *name;
  std::string input;
  std::map<std::string, std::string> older;
};

const sweep fit = {"fit",
                   "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\noutput_internal 1\n"
                   "output_stepsize 2\nmodel_file labels.json\noutput_summary 1\n" + rows,
                   {{"labels.txt", "1\n1\n1\n2\n2\n2\n"},
                    {"labels.means", "0.100000\t0.200000\n5.000000\t5.000000\n"},
                    {"labels.variances", "1.000000\t1.000000\n"},
                    {"labels.weights", "0.400000\n0.600000\n"},
                    {"labels.probs", "1.000000\t0.000000\n"},
                    {"labels.internal", "0.000000\t0.000000"},
                    {"labels.json", "{}\n"},
                    {"labels.summary.json", "{}\n"}}};
const sweep selection = {"selection",
                         "rows 6\ncols 2\nselect_classes 1:2\nmax_em_iterations 5\noutput_summary 1\n" + rows,
                         {{"labels.txt", "1\n1\n1\n1\n1\n1\n"},
                          {"labels.selection.tsv", "old\n"},
                          {"labels.summary.json", "{}\n"}}};
const sweep processes = {"processes", "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\n" + rows,
                         {{"labels.txt", "1\n1\n1\n2\n2\n2\n"}}};

void set_up(const scratch_dir &dir, const sweep &run, const std::string &under = "") {
  dir.write(under + "input.txt", run.input);
  for (const auto &[name, content] : run.older) dir.write(under + name, content);
}

std::string base_name(const std::string &path) { return fs::path(path).filename().string(); }

bool is_temporary(const std::string &name) { return name.find(".mogem-tmp.") != std::string::npos; }

// The result a temporary file stands for: its name without ".mogem-tmp.<pid>".
std::string final_name(const std::string &path) {
  const std::string name = base_name(path);
  return name.substr(0, name.find(".mogem-tmp."));
}

// One line of the shim's record: "number, call, path[, new name of a rename][, fault]".
struct call {
  std::string name, path, target;
  bool fault = false;
};

// The calls a run recorded; none when the record is missing (the run did not end normally).
std::vector<call> read_record(const std::string &path) {
  std::ifstream in(path);
  std::vector<call> calls;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) f.push_back(field);
    calls.push_back({f.at(1), f.at(2), f.at(1) == "rename" ? f.at(3) : "", f.back() == "fault"});
  }
  return calls;
}

// Runs the program with the shim failing call fault_at (0: none) with error, alone (rank < 0)
// or over two processes under mpirun with the shim steering process `rank` only, on the calls
// on the scratch directories' files.
run_result run_with_shim(const scratch_dir &dir, int rank, std::size_t fault_at, int error, const std::string &record) {
  const std::vector<std::string> args = {"input.txt", "labels.txt"};
  std::vector<std::string> shim = {std::string("LD_PRELOAD=") + MOGEM_FAULT_SHIM,
                                   "MOGEM_FAULT_AT=" + std::to_string(fault_at),
                                   "MOGEM_FAULT_ERRNO=" + std::to_string(error), "MOGEM_FAULT_COUNT_FILE=" + record};
  if (rank < 0) return run_mogem(dir, args, run_setup{shim});
  shim.push_back("MOGEM_FAULT_RANK=" + std::to_string(rank));
  shim.push_back("MOGEM_FAULT_UNDER=" + (fs::canonical(fs::temp_directory_path()) / "mogem-test-").string());
  std::vector<std::string> mpirun = {"--oversubscribe", "--allow-run-as-root", "--quiet", "-np", "2"};
  for (const std::string &setting : shim) mpirun.insert(mpirun.end(), {"-x", setting});
  mpirun.insert(mpirun.end(), {"-x", "MOGEM_THREADS=1", std::getenv("MOGEM_MPI_BINARY")});
  mpirun.insert(mpirun.end(), args.begin(), args.end());
  return run_executable(dir, "/usr/bin/mpirun", mpirun);
}

// The file a failing run names in "Error: could not write the file <path>: <reason>", or "".
std::string named_file(const std::string &err, const std::string &reason) {
  static const std::regex line("(^|\n)Error: could not write the file (.+): (.+)\n");
  std::smatch m;
  for (auto at = err.cbegin(); std::regex_search(at, err.cend(), m, line); at = m[0].second)
    if (m[3] == reason) return m[2];
  return "";
}

// What a failed run may leave: the input, the older files (each as it was, or as its clean
// version when `replaced` names it) and complete snapshots; nothing else.
std::map<std::string, std::string> allowed(const sweep &run, const std::map<std::string, std::string> &now,
                                           const std::map<std::string, std::string> &clean,
                                           const std::vector<std::string> &replaced) {
  static const std::regex snapshot("labels[0-9]{5}\\.(means|variances|labels)");
  std::map<std::string, std::string> files = run.older;
  files["input.txt"] = run.input;
  for (const std::string &name : replaced)
    if (run.older.count(name)) files[name] = clean.at(name);
  for (const auto &[name, content] : now)
    if (std::regex_match(name, snapshot) && clean.count(name)) files[name] = clean.at(name);
  return files;
}

// Every counted call of the run made to fail in turn.
void sweep_faults(const sweep &run, int rank) {
  scratch_dir notes;  // the shim's records, outside the directories the runs leave files in
  scratch_dir reference;
  set_up(reference, run);
  const run_result clean = run_with_shim(reference, rank, 0, EIO, notes.path("clean"));
  ASSERT_EQ(clean.exit_code, 0) << clean.err;
  const std::vector<call> calls = read_record(notes.path("clean"));
  ASSERT_GE(calls.size(), 3u) << "the program does not write its results through write(2)";
  const std::map<std::string, std::string> clean_files = reference.contents();
  for (const auto &[name, content] : run.older) ASSERT_NE(clean_files.at(name), content) << name;
  for (const auto &[name, content] : clean_files) ASSERT_FALSE(is_temporary(name)) << name;
  const std::string directory = fs::canonical(reference.root()).string();

  for (std::size_t n = 1; n <= calls.size(); n++) {
    const call &target = calls[n - 1];
    const int error = n % 2 ? EIO : ENOSPC;
    const bool on_directory = target.name != "rename" && target.path == directory;  // its fsync or close
    const std::string where = std::string(run.name) + (rank >= 0 ? " on process " + std::to_string(rank) : "") +
                              ", fault " + std::to_string(n) + ": " + target.name + " " + base_name(target.path) +
                              " " + base_name(target.target) + " fails with " + std::strerror(error);
    scratch_dir dir;
    set_up(dir, run);
    std::remove(notes.path("run").c_str());  // a run that ends abnormally leaves no record
    const run_result r = run_with_shim(dir, rank, n, error, notes.path("run"));
    const std::vector<call> seen = read_record(notes.path("run"));
    ASSERT_GE(seen.size(), n) << where << ": the run did not reach the call";
    EXPECT_TRUE(seen[n - 1].fault && seen[n - 1].name == target.name) << where << ": other calls than the clean run";
    if (r.exit_code == 0) {
      EXPECT_EQ(dir.contents(), clean_files) << where;
      EXPECT_EQ(r.err, clean.err) << where;
      continue;
    }
    if (target.name == "rename" || is_temporary(base_name(target.path)) || on_directory) {
      EXPECT_EQ(r.exit_code, 1) << where << "\n" << r.err;
      const std::string named = named_file(r.err, std::strerror(error));
      EXPECT_NE(named, "") << where << ": no \"Error: could not write the file ...\" in\n" << r.err;
      if (!on_directory) {
        EXPECT_EQ(base_name(named), final_name(target.name == "rename" ? target.target : target.path)) << where;
      }
    }
    // Files renamed into place before the fault are new and complete; every other one is old.
    std::vector<std::string> replaced;
    for (std::size_t c = 0; c + 1 < n; c++)
      if (seen[c].name == "rename") replaced.push_back(base_name(seen[c].target));
    const std::map<std::string, std::string> left = dir.contents();
    EXPECT_EQ(left, allowed(run, left, clean_files, replaced)) << where;
  }
}

}  // namespace

TEST(WriteFaults, EveryFailingCallLeavesResultsWholeOrUntouched) {
  if (!*MOGEM_FAULT_SHIM) GTEST_SKIP() << "no fault shim in a sanitizer build";
  for (const sweep *run : {&fit, &selection}) sweep_faults(*run, -1);
}

// The labels over two processes, a fault on either: make faults-mpi names the MPI build.
TEST(WriteFaults, OverTwoProcessesAFaultOnEitherLeavesResultsWholeOrUntouched) {
  const char *binary = std::getenv("MOGEM_MPI_BINARY");
  if (!*MOGEM_FAULT_SHIM || !binary || !*binary) GTEST_SKIP() << "no fault shim or no MPI build (make faults-mpi)";
  for (int rank : {0, 1}) sweep_faults(processes, rank);
}

// A real full disk also gives short writes: a tmpfs in a mount namespace of the run's own,
// holding the older results and a ballast that fills it but for a few pages.
TEST(WriteFaults, AFullDiskFailsTheRunAndKeepsTheOlderResults) {
  const std::string unshare = "/usr/bin/unshare";
  if (!fs::exists(unshare)) GTEST_SKIP() << "no " << unshare;
  scratch_dir reference;
  set_up(reference, fit);
  ASSERT_EQ(run_mogem(reference, {"input.txt", "labels.txt"}).exit_code, 0);
  const std::map<std::string, std::string> clean_files = reference.contents();
  const std::string script =
      "mount -t tmpfs -o size=256k tmpfs disk || exit 77\n"
      "cp staged/* disk/ && { cat /dev/zero >disk/ballast 2>/dev/null; truncate -s \"-$1\" disk/ballast; } || exit 78\n"
      "cd disk && \"$2\" input.txt labels.txt; status=$?; cd ..\n"
      "rm disk/ballast && cp -a disk/. after/ || exit 78\n"
      "exit $status\n";
  int code = 1;
  for (long pages = 0; pages <= 48 && code != 0; pages++) {
    scratch_dir dir;
    for (const char *sub : {"staged", "disk", "after"}) dir.make_dir(sub);
    set_up(dir, fit, "staged/");
    const run_result r = run_executable(dir, unshare, {"-m", "sh", "-c", script, "sh", std::to_string(pages * 4096),
                                                       MOGEM_BINARY});
    if (r.exit_code == 77) GTEST_SKIP() << "no tmpfs can be mounted here: " << r.err;
    ASSERT_NE(r.exit_code, 78) << "the disk could not be set up: " << r.err;
    std::map<std::string, std::string> left;
    for (const auto &[name, content] : dir.contents())
      if (name.rfind("after/", 0) == 0) left[name.substr(6)] = content;
    const std::string where = std::to_string(pages) + " pages free\n" + r.err;
    code = r.exit_code;
    EXPECT_EQ(left, code == 0 ? clean_files : allowed(fit, left, clean_files, {})) << where;
    if (code != 0) {
      EXPECT_EQ(code, 1) << where;
      EXPECT_NE(named_file(r.err, std::strerror(ENOSPC)), "") << where;
    }
  }
  EXPECT_EQ(code, 0) << "no run succeeded: the disk is too small for the results";
}

// Memory that runs out, under an address-space cap, ends the run before any file is touched:
// from a pipe the reader allocates the 8 * 10^10 bytes the counts ask for; 100 full 500 x 500
// covariances take 200 MB each for the matrices and their inverses.
TEST(MemoryCap, WhatDoesNotFitEndsTheRunBeforeAnyFileIsTouched) {
  if (address_sanitized) GTEST_SKIP() << "no address-space cap under AddressSanitizer";
  std::string model = "rows 100 cols 500 num_clusters 100 em_type full max_em_iterations 2 output_model 1 "
                      "output_internal 1 output_stepsize 1 begin data\n";
  for (int i = 0; i < 100 * 500; i++) model += std::to_string((i * 7919) % 10) + (i % 500 == 499 ? "\n" : " ");
  const struct {
    std::string text;
    bool piped;
    std::string failure;
  } cases[] = {{"rows 100000000 cols 100 num_clusters 2 output_model 1 begin data 1 2 3", true, "2 in matrix()\n"},
               {model, false, ""}};
  for (const auto &c : cases) {
    scratch_dir dir;
    set_up(dir, {"", c.text, fit.older});
    run_setup capped{{"MOGEM_THREADS=1"}, 256ull << 20};  // one thread: no worker stacks to map
    const run_result r =
        c.piped ? run_executable(dir, "/bin/sh", {"-c", "echo \"$1\" | \"$2\" /dev/stdin labels.txt", "sh", c.text,
                                                  MOGEM_BINARY}, capped)
                : run_mogem(dir, {"input.txt", "labels.txt"}, capped);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("Numerical Recipes run-time error...\nallocation failure " + c.failure, 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find("\n...now") + 1), "...now exiting to system...\n") << r.err;
    EXPECT_EQ(dir.contents(), allowed({"", c.text, fit.older}, {}, {}, {}));
  }
}
