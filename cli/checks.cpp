#include "cli/checks.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "mogem/files.h"
#include "io/output_file.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void refuse_if_input(const char *what, const std::string &name, const std::string &input) {
  if (!same_file(name, input)) return;
  refuse(
      "the %s %s is the input file %s; choose another output name so that the input is not overwritten", what,
      name.c_str(), input.c_str());
}

// The directory a result goes into, and the last component of its name.
void split_path(const std::string &path, std::string *directory, std::string *name) {
  const std::size_t slash = path.rfind('/');
  *directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// A result file that exists must be a file the run may replace.
void refuse_unwritable_file(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;  // to be created; the directory decides
  if (S_ISDIR(st.st_mode)) write_failed(path, EISDIR);
  if (access(path.c_str(), W_OK) != 0) write_failed(path, errno);
}

bool is_snapshot_name(const std::string &name, const std::string &base) {
  if (name.compare(0, base.size(), base) != 0) return false;
  std::size_t at = base.size(), digits = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') at++, digits++;
  const std::string extension = name.substr(at);
  return digits >= 5 && (extension == ".means" || extension == ".variances" || extension == ".labels");
}

}  // namespace

void refuse_unwritable_outputs(const std::string &output, bool output_model, bool output_internal, bool snapshots,
                               const std::vector<std::string> &others) {
  std::string directory, name;
  split_path(output, &directory, &name);
  struct stat st;
  if (stat(directory.c_str(), &st) != 0) write_failed(output, errno);
  if (!S_ISDIR(st.st_mode)) write_failed(output, ENOTDIR);
  if (access(directory.c_str(), W_OK | X_OK) != 0) write_failed(output, errno);

  std::vector<std::string> results{output};
  if (output_model)
    for (const char *ext : {".means", ".variances", ".weights", ".probs"}) results.push_back(result_file_name(output, ext));
  if (output_internal) results.push_back(result_file_name(output, ".internal"));
  results.insert(results.end(), others.begin(), others.end());
  for (const std::string &path : results) refuse_unwritable_file(path);
  for (const std::string &path : others) {  // their directories may be others than the output's
    std::string other_directory, other_name;
    split_path(path, &other_directory, &other_name);
    if (stat(other_directory.c_str(), &st) != 0) write_failed(path, errno);
    if (!S_ISDIR(st.st_mode)) write_failed(path, ENOTDIR);
    if (access(other_directory.c_str(), W_OK | X_OK) != 0) write_failed(path, errno);
  }

  if (!snapshots) return;
  // Snapshot names are the output's base name, the step and an extension, in its directory.
  const std::string base_path = result_file_name(output, "");
  std::string base;
  split_path(base_path, &directory, &base);
  const std::string prefix = base_path.substr(0, base_path.size() - base.size());
  DIR *entries = opendir(directory.c_str());
  if (!entries) write_failed(output, errno);
  std::vector<std::string> existing;
  while (const dirent *entry = readdir(entries))
    if (is_snapshot_name(entry->d_name, base)) existing.push_back(prefix + entry->d_name);
  closedir(entries);
  for (const std::string &path : existing) refuse_unwritable_file(path);
}

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void refuse_output_over_input(const std::string &input, const std::string &output) {
  refuse_if_input("output file", output, input);
}

void refuse_outputs_over_input(const std::string &input, const std::string &output, bool output_model,
                               bool output_internal, const std::vector<std::string> &others) {
  for (const std::string &path : others) refuse_if_input("result file", path, input);
  if (output_model)
    for (const char *ext : {".means", ".variances", ".weights", ".probs"})
      refuse_if_input("model file", result_file_name(output, ext), input);
  if (output_internal) refuse_if_input("data dump", result_file_name(output, ".internal"), input);
}

}  // namespace mogem::detail
