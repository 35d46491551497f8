// Jobs side by side on a few threads, the caller's thread waiting on their work.
#ifndef MOGEM_ENGINE_WORK_POOL_H
#define MOGEM_ENGINE_WORK_POOL_H

#include <atomic>
#include <functional>

namespace mogem::detail {

// Thrown by a job that gives up because the pool was told to stop; not a failure of its own.
struct pool_stopped {};

// Runs job(0, progressed) .. job(count - 1, progressed) on up to `workers` threads, each thread
// taking the next index (fewer threads when the system refuses some; the caller's thread alone
// when it refuses all). The caller's thread sleeps until a job calls progressed() or finishes,
// then calls on_news(jobs done so far): it is woken by the work, never by a clock. An exception
// from a job or from on_news sets `stop`: jobs not yet started are skipped, running ones are
// expected to look at `stop` and throw pool_stopped. Once every thread has ended, the exception
// from on_news is rethrown, else that of the lowest-numbered job (pool_stopped aside).
using pool_job = std::function<void(int index, const std::function<void()> &progressed)>;
void run_side_by_side(int count, int workers, const pool_job &job, const std::function<void(int done)> &on_news,
                      std::atomic<bool> &stop);

}  // namespace mogem::detail

#endif
