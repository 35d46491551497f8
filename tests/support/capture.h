// Helpers for tests that call routines which write to standard error or end the run.
#ifndef MOGEM_TESTS_SUPPORT_CAPTURE_H
#define MOGEM_TESTS_SUPPORT_CAPTURE_H

#include <functional>
#include <string>

// What a call wrote on standard error, and the exit code it ended the run with (no_exit when
// it returned normally).
struct call_outcome {
  static constexpr int no_exit = -1000;
  std::string err;
  int exit_code = no_exit;
};

call_outcome capture(const std::function<void()> &call);

#endif
