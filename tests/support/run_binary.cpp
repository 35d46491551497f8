#include "support/run_binary.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

scratch_dir::scratch_dir() {
  std::string pattern = (fs::temp_directory_path() / "mogem-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void scratch_dir::write(const std::string &name, const std::string &content) const {
  std::ofstream(path(name), std::ios::binary) << content;
}

namespace {

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

std::string scratch_dir::read(const std::string &name) const { return read_file(path(name)); }

std::string source_file(const std::string &name) { return read_file(std::string(MOGEM_SOURCE_DIR) + "/" + name); }

bool scratch_dir::exists(const std::string &name) const { return fs::exists(path(name)); }

void scratch_dir::make_dir(const std::string &name) const { fs::create_directories(path(name)); }

std::vector<std::string> scratch_dir::files() const {
  std::vector<std::string> names;
  for (const auto &entry : fs::recursive_directory_iterator(root_))
    if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), root_).string());
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> scratch_dir::contents() const {
  std::map<std::string, std::string> by_name;
  for (const std::string &name : files()) by_name[name] = read(name);
  return by_name;
}

run_result run_mogem(const scratch_dir &dir, const std::vector<std::string> &args, const run_setup &setup) {
  return run_executable(dir, MOGEM_BINARY, args, setup);
}

bool runs_cleanly(const scratch_dir &dir, const std::string &name, const std::string &input) {
  dir.write(name + ".txt", input);
  const run_result r = run_mogem(dir, {name + ".txt", name + ".labels"});
  EXPECT_EQ(r.exit_code, 0) << name << ": " << r.err;
  EXPECT_EQ(r.out + r.err, "") << name;
  return r.exit_code == 0 && r.out.empty() && r.err.empty();
}

run_result run_input(const scratch_dir &dir, const std::string &input) {
  dir.write("input.txt", input);
  return run_mogem(dir, {"input.txt", "labels.txt"});
}

pid_t start_executable(const scratch_dir &dir, const std::string &program, const std::vector<std::string> &args,
                       const run_setup &setup, const std::string &out_path, const std::string &err_path) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(dir.root().c_str()) != 0) _exit(126);
  dup2(open("/dev/null", O_RDONLY), 0);
  dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  for (const std::string &entry : setup.environment) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos || setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1) != 0) _exit(126);
  }
  const struct rlimit cap = {setup.address_space, setup.address_space};
  if (setup.address_space > 0 && setrlimit(RLIMIT_AS, &cap) != 0) _exit(126);
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int wait_for(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

run_result run_executable(const scratch_dir &dir, const std::string &program, const std::vector<std::string> &args,
                          const run_setup &setup) {
  const std::string out_path = dir.root() + "/../" + fs::path(dir.root()).filename().string() + ".out";
  const std::string err_path = out_path + ".err";
  run_result result{wait_for(start_executable(dir, program, args, setup, out_path, err_path)), read_file(out_path),
                    read_file(err_path)};
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return result;
}
