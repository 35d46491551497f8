#include "support/capture.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/program.h"

using namespace mogem::detail;

call_outcome capture(const std::function<void()> &call) {
  call_outcome outcome;
  testing::internal::CaptureStderr();
  try {
    call();
  } catch (const mogem::error &failure) {
    // Reported as the program reports it.
    print_failure(stderr, failure);
    outcome.exit_code = exit_code_of(failure);
  }
  outcome.err = testing::internal::GetCapturedStderr();
  return outcome;
}

void warn_on_stderr(const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); }
