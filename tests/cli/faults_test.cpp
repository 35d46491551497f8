// Failures while the program writes its results, through the real binary: every write, fsync,
// close and rename of a representative run made to fail in turn (tests/support/fault_shim.cpp),
// a disk that fills up, and memory that runs out.
//
// The promise checked: a run's results are whole or absent. A run that fails says which file
// and why, leaves no temporary file, and leaves every file that was there before as it was,
// except one that a rename already replaced by its complete new version (a fault after the
// first final rename cannot undo it); a snapshot present is complete. A run that succeeds
// despite the fault leaves exactly the files of a clean run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

const std::string input =
    "rows 6\ncols 2\nnum_clusters 2\nmax_em_iterations 5\noutput_model 1\noutput_internal 1\noutput_stepsize 2\n"
    "begin data\n0.0 0.0\n0.5 0.2\n0.1 0.6\n5.0 5.0\n5.4 4.8\n4.9 5.5\n";

// An older run's results, in place before every run; each differs from what a run writes.
const std::map<std::string, std::string> older = {
    {"labels.txt", "1\n1\n1\n2\n2\n2\n"},           {"labels.means", "0.100000\t0.200000\n5.000000\t5.000000\n"},
    {"labels.variances", "1.000000\t1.000000\n"},   {"labels.weights", "0.400000\n0.600000\n"},
    {"labels.probs", "1.000000\t0.000000\n"},       {"labels.internal", "0.000000\t0.000000"},
};

void set_up(const scratch_dir &dir) {
  dir.write("input.txt", input);
  for (const auto &[name, content] : older) dir.write(name, content);
}

std::map<std::string, std::string> contents(const scratch_dir &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : dir.files()) files[name] = dir.read(name);
  return files;
}

std::string base_name(const std::string &path) { return fs::path(path).filename().string(); }

bool is_temporary(const std::string &name) { return name.find(".mogem-tmp.") != std::string::npos; }

// The result a temporary file stands for: its name without ".mogem-tmp.<pid>".
std::string final_name(const std::string &path) {
  const std::string name = base_name(path);
  const std::size_t at = name.find(".mogem-tmp.");
  return at == std::string::npos ? name : name.substr(0, at);
}

bool is_snapshot(const std::string &name) {
  static const std::regex snapshot("labels[0-9]{5}\\.(means|variances|labels)");
  return std::regex_match(name, snapshot);
}

// One line of the shim's record.
struct call {
  long number = 0;
  std::string name, path, target;  // target: the new name of a rename
  bool fault = false;
};

struct call_record {
  long count = -1;  // -1: the record is missing (the process did not end normally)
  std::vector<call> calls;
};

call_record read_record(const std::string &path) {
  call_record record;
  std::ifstream in(path);
  if (!(in >> record.count)) return {};
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 3) continue;
    call c;
    c.number = std::stol(fields[0]);
    c.name = fields[1];
    c.path = fields[2];
    std::size_t next = 3;
    if (c.name == "rename" && fields.size() > 3) c.target = fields[next++];
    c.fault = fields.size() > next && fields[next] == "fault";
    record.calls.push_back(c);
  }
  return record;
}

run_setup with_shim(long fault_at, const char *error_name, const std::string &record) {
  run_setup setup;
#ifdef MOGEM_FAULT_SHIM
  setup.environment = {std::string("LD_PRELOAD=") + MOGEM_FAULT_SHIM, "MOGEM_FAULT_AT=" + std::to_string(fault_at),
                       std::string("MOGEM_FAULT_ERRNO=") + error_name, "MOGEM_FAULT_COUNT_FILE=" + record};
#else
  (void)fault_at, (void)error_name, (void)record;
#endif
  return setup;
}

// The file a failing run names in "Error: could not write the file <path>: <reason>", one
// path per such line.
std::vector<std::string> named_files(const std::string &err, const std::string &reason) {
  const std::string prefix = "Error: could not write the file ", suffix = ": " + reason;
  std::vector<std::string> names;
  std::stringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() + suffix.size() &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
  return names;
}

// What a failed run may leave: the input, the older files (each as it was, or as its clean
// version when one of `replaced` renamed it into place), complete snapshots.
std::vector<std::string> leftover_problems(const std::map<std::string, std::string> &now,
                                           const std::map<std::string, std::string> &clean,
                                           const std::vector<std::string> &replaced) {
  std::vector<std::string> problems;
  for (const auto &[name, content] : now) {
    if (is_temporary(name)) {
      problems.push_back("left the temporary file " + name);
    } else if (name == "input.txt") {
      if (content != input) problems.push_back("changed the input");
    } else if (older.count(name)) {
      const bool was_replaced = std::find(replaced.begin(), replaced.end(), name) != replaced.end();
      if (content != (was_replaced ? clean.at(name) : older.at(name)))
        problems.push_back(name + (was_replaced ? " is not its complete new version after its rename"
                                                : " is not the older file any more"));
    } else if (is_snapshot(name) && clean.count(name)) {
      if (content != clean.at(name)) problems.push_back("the snapshot " + name + " is incomplete or wrong");
    } else {
      problems.push_back("left the file " + name + ", which a clean run does not write");
    }
  }
  for (const auto &[name, content] : older)
    if (!now.count(name)) problems.push_back("removed the older file " + name);
  return problems;
}

}  // namespace

TEST(WriteFaults, EveryFailingCallLeavesResultsWholeOrUntouched) {
#ifndef MOGEM_FAULT_SHIM
  GTEST_SKIP() << "the fault shim is not built in a sanitizer build (its runtime must be loaded first)";
#endif
  const std::vector<std::string> args = {"input.txt", "labels.txt"};
  scratch_dir notes;  // the shim's records, outside the directories the runs leave files in

  scratch_dir reference;
  set_up(reference);
  const run_result clean = run_mogem(reference, args, with_shim(0, "EIO", notes.path("clean")));
  ASSERT_EQ(clean.exit_code, 0) << clean.err;
  const call_record calls = read_record(notes.path("clean"));
  ASSERT_GT(calls.count, 0) << "the shim saw no write, fsync, close or rename: the program does not write its "
                               "results through write(2)";
  ASSERT_EQ(static_cast<long>(calls.calls.size()), calls.count);
  const std::map<std::string, std::string> clean_files = contents(reference);
  for (const auto &[name, content] : older) {
    ASSERT_TRUE(clean_files.count(name)) << name;
    ASSERT_NE(clean_files.at(name), content) << name << " was not rewritten by the clean run";
  }
  for (const auto &[name, content] : clean_files) ASSERT_FALSE(is_temporary(name)) << name;
  const std::string directory = fs::canonical(reference.root()).string();

  std::map<std::string, int> faults_by_call, outcomes;
  for (long n = 1; n <= calls.count; n++) {
    const call &target = calls.calls[n - 1];
    const char *error_name = n % 2 ? "EIO" : "ENOSPC";
    const std::string reason = std::strerror(n % 2 ? EIO : ENOSPC);
    const bool on_directory = target.name != "rename" && target.path == directory;  // its fsync or close
    const bool on_result = target.name == "rename" || is_temporary(base_name(target.path)) || on_directory;
    faults_by_call[target.name]++;

    scratch_dir dir;
    set_up(dir);
    std::remove(notes.path("run").c_str());  // a run that ends abnormally leaves no record
    const run_result r = run_mogem(dir, args, with_shim(n, error_name, notes.path("run")));
    const call_record seen = read_record(notes.path("run"));
    std::ostringstream where;
    where << "fault " << n << " of " << calls.count << ": " << target.name << " " << base_name(target.path)
          << (target.target.empty() ? "" : " -> " + base_name(target.target)) << " fails with " << error_name;
    ASSERT_GE(static_cast<long>(seen.calls.size()), n)
        << where.str() << ": the run did not reach the call (" << seen.count << " calls recorded)";
    EXPECT_TRUE(seen.calls[n - 1].fault && seen.calls[n - 1].name == target.name)
        << where.str() << ": the run made other calls than the clean run";

    if (r.exit_code == 0) {
      outcomes["exit 0, every file as after a clean run"]++;
      EXPECT_EQ(contents(dir), clean_files) << where.str();
      EXPECT_EQ(r.err, clean.err) << where.str();
      continue;
    }
    if (on_result) {
      EXPECT_EQ(r.exit_code, 1) << where.str() << "\n" << r.err;
    }
    const std::vector<std::string> named = named_files(r.err, reason);
    if (on_result) {
      EXPECT_FALSE(named.empty()) << where.str() << ": no \"Error: could not write the file ...: " << reason
                                  << "\" in\n" << r.err;
      const std::string expected = base_name(target.name == "rename" ? target.target : target.path);
      if (!on_directory && !named.empty()) {
        EXPECT_EQ(base_name(named.front()), final_name(expected)) << where.str() << "\n" << r.err;
      }
    }
    // Files renamed into place before the fault are new and complete; every other one is old.
    std::vector<std::string> replaced;
    for (const call &c : seen.calls)
      if (c.number < n && c.name == "rename") replaced.push_back(base_name(c.target));
    const std::vector<std::string> problems = leftover_problems(contents(dir), clean_files, replaced);
    for (const std::string &problem : problems) ADD_FAILURE() << where.str() << ": the run " << problem;
    const bool any_replaced = std::any_of(replaced.begin(), replaced.end(),
                                          [](const std::string &name) { return older.count(name) > 0; });
    outcomes[any_replaced ? "exit 1 after some results were renamed into place, whole"
                          : "exit 1, the older results untouched"]++;
  }

  std::string summary = std::to_string(calls.count) + " faults injected, one per run (";
  for (const auto &[name, count] : faults_by_call) summary += std::to_string(count) + " " + name + " ";
  summary.back() = ')';
  summary += ':';
  for (const auto &[outcome, count] : outcomes) summary += " " + std::to_string(count) + " " + outcome + ";";
  RecordProperty("faults", summary);
  std::printf("%s\n", summary.c_str());
}

TEST(WriteFaults, AFullDiskFailsTheRunAndKeepsTheOlderResults) {
  // A small tmpfs in a mount namespace of the run's own, so that nothing outlives the run: it
  // holds the older results and a ballast file that fills it, less a few pages left free.
  // After the run the script copies what the disk holds out to after/.
  const std::string unshare = "/usr/bin/unshare";
  if (!fs::exists(unshare)) GTEST_SKIP() << "no " << unshare;
  const std::vector<std::string> args = {"input.txt", "labels.txt"};
  scratch_dir reference;
  set_up(reference);
  ASSERT_EQ(run_mogem(reference, args).exit_code, 0);
  const std::map<std::string, std::string> clean_files = contents(reference);

  const std::string script =
      "mount -t tmpfs -o size=256k tmpfs disk || exit 77\n"
      "cp staged/* disk/ && { cat /dev/zero >disk/ballast 2>/dev/null; truncate -s \"-$1\" disk/ballast; } || exit 78\n"
      "cd disk && \"$2\" input.txt labels.txt; status=$?; cd ..\n"
      "rm disk/ballast && cp -a disk/. after/ || exit 78\n"
      "exit $status\n";
  int failed_runs = 0;
  long succeeded_with = -1;
  for (long pages = 0; pages <= 48 && succeeded_with < 0; pages++) {
    scratch_dir dir;
    dir.make_dir("staged");
    dir.make_dir("disk");
    dir.make_dir("after");
    dir.write("staged/input.txt", input);
    for (const auto &[name, content] : older) dir.write("staged/" + name, content);
    const run_result r = run_executable(dir, unshare, {"-m", "sh", "-c", script, "sh", std::to_string(pages * 4096),
                                                       MOGEM_BINARY});
    if (r.exit_code == 77) GTEST_SKIP() << "no tmpfs can be mounted here: " << r.err;
    ASSERT_NE(r.exit_code, 78) << "the disk could not be set up: " << r.err;
    std::map<std::string, std::string> left;
    for (const auto &[name, content] : contents(dir))
      if (name.rfind("after/", 0) == 0) left[name.substr(6)] = content;
    const std::string where = std::to_string(pages) + " pages free";
    if (r.exit_code == 0) {
      succeeded_with = pages;
      EXPECT_EQ(left, clean_files) << where;
      break;
    }
    failed_runs++;
    EXPECT_EQ(r.exit_code, 1) << where << "\n" << r.err;
    EXPECT_FALSE(named_files(r.err, std::strerror(ENOSPC)).empty()) << where << ": no file named in\n" << r.err;
    for (const std::string &problem : leftover_problems(left, clean_files, {}))
      ADD_FAILURE() << where << ": the run " << problem;
  }
  ASSERT_GE(succeeded_with, 0) << "no run succeeded: the disk is too small for the results";
  std::printf("full disk: %d runs failed with the disk full, the run with %ld pages free succeeded\n", failed_runs,
              succeeded_with);
}

namespace {

run_setup capped(const std::string *text = nullptr) {
  run_setup setup;
  setup.environment = {"MOGEM_THREADS=1"};  // no worker stacks to map
  setup.address_space = 256ull << 20;
  setup.input = text;
  return setup;
}

std::vector<std::string> untouched_problems(const scratch_dir &dir, const std::string &input_name) {
  std::map<std::string, std::string> now = contents(dir), expected = older;
  if (!input_name.empty()) expected[input_name] = now.count(input_name) ? now[input_name] : "";
  std::vector<std::string> problems;
  if (now != expected)
    for (const auto &[name, content] : now)
      if (!expected.count(name) || expected[name] != content) problems.push_back(name);
  return problems;
}

}  // namespace

TEST(MemoryCap, DataBeyondMemoryEndTheRunBeforeAnyFileIsTouched) {
  if (address_sanitized) GTEST_SKIP() << "no address-space cap under AddressSanitizer";
  // From a pipe the reader cannot know how much data will come, so it allocates the matrix the
  // counts ask for: 8 * 10^10 bytes, far beyond the cap.
  scratch_dir dir;
  for (const auto &[name, content] : older) dir.write(name, content);
  const std::string text = "rows 100000000 cols 100 num_clusters 2 output_model 1 begin data 1 2 3";
  const run_result r = run_mogem(dir, {"/dev/stdin", "labels.txt"}, capped(&text));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Numerical Recipes run-time error...\nallocation failure 2 in matrix()\n...now exiting to system...\n");
  EXPECT_EQ(untouched_problems(dir, ""), std::vector<std::string>{});
}

TEST(MemoryCap, AModelBeyondMemoryEndsTheRunBeforeAnyFileIsTouched) {
  if (address_sanitized) GTEST_SKIP() << "no address-space cap under AddressSanitizer";
  // 100 full 500 x 500 covariances: 200 MB each for the matrices and their inverses, from a
  // file of 100 kB.
  std::string text = "rows 100 cols 500 num_clusters 100 em_type full max_em_iterations 2 output_model 1 "
                     "output_internal 1 output_stepsize 1 begin data\n";
  for (int i = 0; i < 100 * 500; i++) text += std::to_string((i * 7919) % 10) + (i % 500 == 499 ? "\n" : " ");
  scratch_dir dir;
  set_up(dir);
  dir.write("input.txt", text);
  const run_result r = run_mogem(dir, {"input.txt", "labels.txt"}, capped());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("Numerical Recipes run-time error...\nallocation failure", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("\n...now exiting to system...\n"), std::string::npos) << r.err;
  EXPECT_EQ(untouched_problems(dir, "input.txt"), std::vector<std::string>{});
}
