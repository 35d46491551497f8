// Runs the real mogem binary in a scratch directory, as a user's shell would.
#ifndef MOGEM_TESTS_SUPPORT_RUN_BINARY_H
#define MOGEM_TESTS_SUPPORT_RUN_BINARY_H

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

// Runs mogem with args inside dir (its working directory), standard input from /dev/null.
run_result run_mogem(const scratch_dir &dir, const std::vector<std::string> &args);

// Writes input as input.txt in dir, then runs mogem input.txt labels.txt there.
run_result run_input(const scratch_dir &dir, const std::string &input);

// The same for any executable file: program is its path, also passed as argv[0].
run_result run_executable(const scratch_dir &dir, const std::string &program, const std::vector<std::string> &args);

#endif
