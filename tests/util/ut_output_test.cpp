#include "util/ut_output.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "util/ut_memory.h"

using namespace mogem::detail;

namespace {

template <typename Call>
std::string stdout_of(Call call) {
  testing::internal::CaptureStdout();
  call();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Restores the process-wide log level a test changes.
struct log_level_guard {
  int saved = ut_log_level;
  ~log_level_guard() { ut_log_level = saved; }
};

// "--> Error, from line N of file <path ending in ut_memory.cpp>:\n    " followed by message.
void expect_memory_error(const std::string &out, const std::string &message) {
  EXPECT_TRUE(std::regex_match(out, std::regex("--> Error, from line [1-9][0-9]* of file .*ut_memory\\.cpp:\n    " +
                                               message + "\n")))
      << out;
}

}  // namespace

// The error reports' format is checked through the tracked allocator's refusals. (The level
// names are four fixed strings copied; a test of them would only restate the code.)
TEST(TrackedMemory, CountsWhatIsTakenAndGivenBackAndRefusesEmptySizes) {
  int used = ut_mem_used, allocated = ut_mem_allocated;
  void *a = malloc_and_track(100);
  void *b = malloc_and_track(28);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(ut_mem_used, used + 128);
  EXPECT_EQ(ut_mem_allocated, allocated + 128);
  free_and_track(a, 100);
  EXPECT_EQ(ut_mem_used, used + 28);
  EXPECT_EQ(ut_mem_allocated, allocated + 128);  // a running total
  free_and_track(b, 28);
  EXPECT_EQ(ut_mem_used, used);

  // Refusals are reported on standard output at the default level and change no count.
  void *block = reinterpret_cast<void *>(1);
  expect_memory_error(stdout_of([&] { block = malloc_and_track(0); }), "Refused to allocate 0 bytes\\.");
  EXPECT_EQ(block, nullptr);
  expect_memory_error(stdout_of([&] { block = malloc_and_track(-16); }), "Refused to allocate -16 bytes\\.");
  expect_memory_error(stdout_of([] { free_and_track(nullptr, 64); }), "Tried to free a NULL pointer\\.");
  EXPECT_EQ(ut_mem_used, used);
  EXPECT_EQ(ut_mem_allocated, allocated + 128);

  log_level_guard guard;
  ut_log_level = 4;  // debug level zero-fills
  unsigned char *zeroed = static_cast<unsigned char *>(malloc_and_track(4096));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 4096; i++) ASSERT_EQ(zeroed[i], 0) << "byte " << i;
  free_and_track(zeroed, 4096);
}
