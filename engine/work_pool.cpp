#include "engine/work_pool.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace mogem::detail {

namespace {

struct pool {
  std::mutex lock;
  std::condition_variable wake;
  int next = 0, done = 0, running = 0;
  long ticks = 0;  // progress reported by the jobs
  std::vector<std::exception_ptr> failures;
};

void work(pool &p, int count, const pool_job &job, std::atomic<bool> &stop) {
  const std::function<void()> progressed = [&p] {
    std::lock_guard<std::mutex> hold(p.lock);
    p.ticks++;
    p.wake.notify_all();
  };
  for (;;) {
    int c;
    {
      std::lock_guard<std::mutex> hold(p.lock);
      if (stop || p.next >= count) break;
      c = p.next++;
    }
    std::exception_ptr failure;
    try {
      job(c, progressed);
    } catch (const pool_stopped &) {
    } catch (...) {
      failure = std::current_exception();
      stop = true;
    }
    std::lock_guard<std::mutex> hold(p.lock);
    p.failures[c] = failure;
    p.done++;
    p.wake.notify_all();
  }
  std::lock_guard<std::mutex> hold(p.lock);
  p.running--;
  p.wake.notify_all();
}

}  // namespace

void run_side_by_side(int count, int workers, const pool_job &job, const std::function<void(int done)> &on_news,
                      std::atomic<bool> &stop) {
  pool p;
  p.failures.resize(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; w++) {
    std::lock_guard<std::mutex> hold(p.lock);
    try {
      threads.emplace_back([&] { work(p, count, job, stop); });
      p.running++;
    } catch (const std::system_error &) {
      break;  // the threads that did start take its share
    }
  }
  std::exception_ptr caller_failure;
  if (threads.empty()) {
    p.running = 1;
    work(p, count, job, stop);
  }
  int reported = 0;
  long seen = 0;
  std::unique_lock<std::mutex> lock(p.lock);
  for (;;) {
    p.wake.wait(lock, [&] { return p.done != reported || p.ticks != seen || p.running == 0; });
    if (p.done == reported && p.ticks == seen) break;
    reported = p.done;
    seen = p.ticks;
    if (caller_failure) continue;
    lock.unlock();
    try {
      on_news(reported);
    } catch (...) {
      caller_failure = std::current_exception();
      stop = true;
    }
    lock.lock();
  }
  lock.unlock();
  for (std::thread &t : threads) t.join();
  if (caller_failure) std::rethrow_exception(caller_failure);
  for (const std::exception_ptr &failure : p.failures)
    if (failure) std::rethrow_exception(failure);
}

}  // namespace mogem::detail
