#include "cli/checks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "io/output_file.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void refuse_if_input(const char *role, const std::string &path, const std::string &input) {
  if (!same_file(path, input)) return;
  refuse_input(
      "Error: the %s %s is the input file %s; choose another output name so that the input is not overwritten", role,
      path.c_str(), input.c_str());
}

// The directory a result goes into, and the last component of its name.
void split_path(const std::string &path, std::string *directory, std::string *name) {
  const std::size_t slash = path.rfind('/');
  *directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file that exists must be one the run may replace or write.
void refuse_unwritable_file(const std::string &path, const std::string &final_name) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;  // to be created; the directory decides
  if (S_ISDIR(st.st_mode)) write_failed(final_name, EISDIR);
  if (access(path.c_str(), W_OK) != 0) write_failed(final_name, errno);
}

void refuse_unwritable_result(const std::string &path) {
  const write_plan plan = plan_write(path);
  if (plan.descriptor >= 0) {
    const int flags = fcntl(plan.descriptor, F_GETFL);
    if (flags < 0) write_failed(path, errno);
    if ((flags & O_ACCMODE) == O_RDONLY) write_failed(path, EBADF);
    return;
  }
  if (!plan.in_place) {  // a temporary is made beside the target and renamed onto it
    std::string directory, name;
    split_path(plan.target, &directory, &name);
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) write_failed(path, errno);
    if (!S_ISDIR(st.st_mode)) write_failed(path, ENOTDIR);
    if (access(directory.c_str(), W_OK | X_OK) != 0) write_failed(path, errno);
  }
  refuse_unwritable_file(plan.target, path);
}

bool is_snapshot_name(const std::string &name, const std::string &base) {
  if (name.compare(0, base.size(), base) != 0) return false;
  std::size_t at = base.size(), digits = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') at++, digits++;
  const std::string extension = name.substr(at);
  return digits >= 5 && (extension == ".means" || extension == ".variances" || extension == ".labels");
}

// The files already there that snapshots of the run would replace: the output's base name, a
// step and an extension, in its directory.
std::vector<std::string> existing_snapshots(const std::string &output) {
  const std::string base_path = result_file_name(output, "");
  std::string directory, base;
  split_path(base_path, &directory, &base);
  const std::string prefix = base_path.substr(0, base_path.size() - base.size());
  DIR *entries = opendir(directory.c_str());
  if (!entries) write_failed(output, errno);
  std::vector<std::string> existing;
  while (const dirent *entry = readdir(entries))
    if (is_snapshot_name(entry->d_name, base)) existing.push_back(prefix + entry->d_name);
  closedir(entries);
  return existing;
}

}  // namespace

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void refuse_results_over_input(const result_plan &plan) {
  // The labels file first: its refusal is the one a user meets most.
  refuse_if_input(result_plan::role(result::labels), plan.output, plan.input);
  for (const planned_result &file : plan.files) refuse_if_input(result_plan::role(file.what), file.path, plan.input);
  if (plan.snapshots)
    for (const std::string &path : existing_snapshots(plan.output)) refuse_if_input("snapshot", path, plan.input);
}

void refuse_unwritable_results(const result_plan &plan) {
  refuse_unwritable_result(plan.output);
  for (const planned_result &file : plan.files)
    if (file.what != result::labels) refuse_unwritable_result(file.path);
  if (plan.snapshots)
    for (const std::string &path : existing_snapshots(plan.output)) refuse_unwritable_file(path, path);
}

}  // namespace mogem::detail
