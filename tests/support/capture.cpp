#include "support/capture.h"

#include <gtest/gtest.h>

#include "nr/nr_util.h"

using namespace mogem::detail;


call_outcome capture(const std::function<void()> &call) {
  call_outcome outcome;
  testing::internal::CaptureStderr();
  try {
    call();
  } catch (const run_exit &e) {
    outcome.exit_code = e.code;
  }
  outcome.err = testing::internal::GetCapturedStderr();
  return outcome;
}
