// em_run_parts: every part runs once, failures reach the caller, and a part whose thread
// cannot start runs on the caller.
#include "engine/kernels/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace mogem::detail;

namespace {

constexpr int PARTS = 5;

// Starts no thread: every part must run on the caller.
std::thread refuse_thread(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// Starts a thread for every other request only.
int requests = 0;
std::thread start_every_other_thread(std::function<void()> body) {
  if (requests++ % 2 == 0) return refuse_thread(std::move(body));
  return start_thread(std::move(body));
}

}  // namespace

// Also when the parts run on the caller because no thread starts.
TEST(RunParts, TheLowestFailingPartsExceptionReachesTheCallerAfterEveryPartRan) {
  for (thread_starter start : {start_thread, refuse_thread})
    for (const std::vector<int> &failing : {std::vector<int>{2, 4}, {0, 3}, {4}}) {
      std::atomic<int> finished{0};
      std::string caught;
      try {
        em_run_parts(
            PARTS,
            [&](int part) {
              finished++;
              for (int f : failing)
                if (f == part) throw std::runtime_error("part " + std::to_string(part));
            },
            start);
      } catch (const std::runtime_error &e) {
        caught = e.what();
      }
      EXPECT_EQ(caught, "part " + std::to_string(failing[0]));
      EXPECT_EQ(finished.load(), PARTS);
    }
}

TEST(RunParts, APartWhoseThreadCannotStartRunsOnTheCaller) {
  std::vector<std::thread::id> ran_on(PARTS);
  std::vector<int> runs(PARTS, 0);
  em_run_parts(
      PARTS,
      [&](int part) {
        ran_on[part] = std::this_thread::get_id();
        runs[part]++;
      },
      start_every_other_thread);
  EXPECT_EQ(runs, std::vector<int>(PARTS, 1));
  // Part 0 is the caller's; parts 1 and 3 make the refused requests 0 and 2.
  for (int part = 0; part < PARTS; part++)
    EXPECT_EQ(ran_on[part] == std::this_thread::get_id(), part == 0 || part % 2 == 1) << "part " << part;
}
