// Runs the real mogem binary in a scratch directory, as a user's shell would.
#ifndef MOGEM_TESTS_SUPPORT_RUN_BINARY_H
#define MOGEM_TESTS_SUPPORT_RUN_BINARY_H

#include <sys/types.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with its contents.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;

  const std::string &root() const { return root_; }
  std::string path(const std::string &name) const { return root_ + "/" + name; }
  void write(const std::string &name, const std::string &content) const;
  std::string read(const std::string &name) const;
  bool exists(const std::string &name) const;
  void make_dir(const std::string &name) const;
  // Names of the regular files below the directory, relative to it, sorted.
  std::vector<std::string> files() const;
  // Those files' contents by name.
  std::map<std::string, std::string> contents() const;

 private:
  std::string root_;
};

// The contents of a file of the source tree, such as "examples/iris.txt".
std::string source_file(const std::string &name);

struct run_result {
  int exit_code;  // 0..255 as the parent sees it; -1 when the program was killed
  std::string out;
  std::string err;
};

// What a run gets besides its arguments; the default is the test's own environment and no
// limits.
struct run_setup {
  std::vector<std::string> environment;  // "NAME=value" entries set on top of the inherited ones
  unsigned long long address_space = 0;  // > 0: the bytes the program may map (RLIMIT_AS, as prlimit --as)
};

// Whether this build runs under AddressSanitizer: its shadow memory leaves no room for an
// address-space cap, and its runtime must come first among the loaded libraries.
#if defined(__SANITIZE_ADDRESS__)  // g++, and clang++ from version 13
constexpr bool address_sanitized = true;
#else
constexpr bool address_sanitized = false;
#endif

// Runs mogem with args inside dir (its working directory), standard input from /dev/null.
run_result run_mogem(const scratch_dir &dir, const std::vector<std::string> &args, const run_setup &setup = {});

// Writes input as input.txt in dir, then runs mogem input.txt labels.txt there.
run_result run_input(const scratch_dir &dir, const std::string &input);

// Writes input as <name>.txt in dir and runs mogem <name>.txt <name>.labels there; a failure of
// the test unless the run succeeds and prints nothing. Whether it did.
bool runs_cleanly(const scratch_dir &dir, const std::string &name, const std::string &input);

// The whitespace-separated numbers of a text (a labels or model file), as T, up to the first
// that is not one.
template <typename T>
std::vector<T> numbers_in(const std::string &text) {
  std::istringstream in(text);
  std::vector<T> values;
  for (T v; in >> v;) values.push_back(v);
  return values;
}

// The same for any executable file: program is its path, also passed as argv[0].
run_result run_executable(const scratch_dir &dir, const std::string &program, const std::vector<std::string> &args,
                          const run_setup &setup = {});

// The same without waiting, standard output and error to the given paths (relative to dir):
// the program's process id, for wait_for, which returns its exit code as run_result has it.
pid_t start_executable(const scratch_dir &dir, const std::string &program, const std::vector<std::string> &args,
                       const run_setup &setup, const std::string &out_path, const std::string &err_path);
int wait_for(pid_t pid);

#endif
