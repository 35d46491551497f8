// Helpers for tests that call routines which write to standard error or end the run.
#ifndef MOGEM_TESTS_SUPPORT_CAPTURE_H
#define MOGEM_TESTS_SUPPORT_CAPTURE_H

#include <functional>
#include <string>

// What a call wrote on standard error, and the exit code the program would end with for the
// mogem::error it threw (no_exit when it returned normally); the error's message is in err,
// printed as the program prints it.
struct call_outcome {
  static constexpr int no_exit = -1000;
  std::string err;
  int exit_code = no_exit;
};

call_outcome capture(const std::function<void()> &call);

// The text a numerical routine's run-time error prints, around its one line.
inline std::string nr_error_text(const std::string &line) {
  return "Numerical Recipes run-time error...\n" + line + "\n...now exiting to system...\n";
}

// A warning callback that prints each notice on standard error, as the program does.
void warn_on_stderr(const std::string &text);

#endif
