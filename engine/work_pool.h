// Jobs side by side on a few threads, the caller's thread waiting on their work.
#ifndef MOGEM_ENGINE_WORK_POOL_H
#define MOGEM_ENGINE_WORK_POOL_H

#include <atomic>
#include <functional>

namespace mogem::detail {

// Thrown by a job that gives up because the pool was told to stop; not a failure of its own.
struct pool_stopped {};

// Runs job(0) .. job(count - 1) on up to `workers` threads, each thread taking the next index
// (fewer threads when the system refuses some; the caller's thread alone when it refuses all).
// The caller's thread sleeps until a job finishes, then calls on_finished(jobs done so far); it
// is never woken by a clock. An exception from a job or from on_finished sets `stop`: jobs not
// yet started are skipped, running ones are expected to look at `stop` and throw pool_stopped.
// Once every thread has ended, the exception from on_finished is rethrown, else that of the
// lowest-numbered job (pool_stopped aside).
void run_side_by_side(int count, int workers, const std::function<void(int)> &job,
                      const std::function<void(int done)> &on_finished, std::atomic<bool> &stop);

}  // namespace mogem::detail

#endif
