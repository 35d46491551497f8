#include "engine/kernels/parallel.h"

#include <sched.h>

#include <exception>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace mogem::detail {

namespace {

constexpr int MAX_THREADS = 1024;

}  // namespace

int available_cores() {
  cpu_set_t allowed;
  unsigned n = 0;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) n = static_cast<unsigned>(CPU_COUNT(&allowed));
  if (n == 0) n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n < MAX_THREADS ? n : MAX_THREADS);
}

int threads_for(int requested) {
  const int all = available_cores();
  return requested > 0 && requested < all ? requested : all;
}

int em_parts_for(double work, int threads, int max_parts) {
  int parts = threads < max_parts ? threads : max_parts;
  const double worth = work / EM_WORK_PER_PART;
  if (worth < parts) parts = static_cast<int>(worth);
  return parts < 1 ? 1 : parts;
}

std::thread start_thread(std::function<void()> body) { return std::thread(std::move(body)); }

void em_run_parts(int parts, const std::function<void(int part)> &task, thread_starter start) {
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
      workers.push_back(start([&guarded, part] { guarded(part); }));
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
