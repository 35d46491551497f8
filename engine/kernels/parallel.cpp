#include "engine/kernels/parallel.h"

#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace mogem::detail {

namespace {

// Below this much work per part a thread costs more than it saves.
constexpr double WORK_PER_PART = 1 << 16;
constexpr int MAX_THREADS = 1024;

// The cores this process may run on (a CPU set given by taskset or a container counts), or
// failing that the machine's.
int cores() {
  cpu_set_t allowed;
  unsigned n = 0;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) n = static_cast<unsigned>(CPU_COUNT(&allowed));
  if (n == 0) n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n < MAX_THREADS ? n : MAX_THREADS);
}

int configured_thread_count() {
  const int all = cores();
  const char *text = std::getenv("MOGEM_THREADS");
  if (!text || !*text) return all;
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1) {
    std::fprintf(stderr, "MOGEM_THREADS=%s is not a positive integer; using all %d cores\n", text, all);
    return all;
  }
  return value < all ? static_cast<int>(value) : all;
}

}  // namespace

int em_thread_count() {
  static const int count = configured_thread_count();
  return count;
}

int em_parts_for(double work, int threads, int max_parts) {
  int parts = threads < max_parts ? threads : max_parts;
  const double worth = work / WORK_PER_PART;
  if (worth < parts) parts = static_cast<int>(worth);
  return parts < 1 ? 1 : parts;
}

void em_run_parts(int parts, const std::function<void(int part)> &task) {
  if (parts <= 1) {
    task(0);
    return;
  }
  std::vector<std::exception_ptr> failures(parts);
  auto guarded = [&](int part) {
    try {
      task(part);
    } catch (...) {
      failures[part] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  workers.reserve(parts - 1);
  for (int part = 1; part < parts; part++) {
    try {
      workers.emplace_back(guarded, part);
    } catch (const std::system_error &) {
      guarded(part);  // no thread to be had: the part runs here, with the same result
    }
  }
  guarded(0);
  for (std::thread &worker : workers) worker.join();
  for (const std::exception_ptr &failure : failures)
    if (failure) std::rethrow_exception(failure);
}

int em_range_start(int first, int last, int parts, int part, int grain) {
  if (part >= parts) return last + 1;
  const long count = static_cast<long>(last) - first + 1;
  const long grains = (count + grain - 1) / grain;
  const long start = first + (grains * part / parts) * grain;
  return static_cast<int>(start < last + 1 ? start : last + 1);
}

}  // namespace mogem::detail
