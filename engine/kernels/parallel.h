// Splitting the EM steps over threads without changing a bit of their results.
//
// Work is cut into parts whose outputs are disjoint (ranges of data points, or classes and
// features); every accumulator lives in exactly one part and adds its terms in ascending
// data-point order, so the results are those of one thread whatever the thread count.
#ifndef MOGEM_ENGINE_KERNELS_PARALLEL_H
#define MOGEM_ENGINE_KERNELS_PARALLEL_H

#include <functional>
#include <thread>

namespace mogem::detail {

// The cores this process may run on (a CPU set given by taskset or a container counts), or
// failing that the machine's; at least 1.
int available_cores();

// The thread count a fit uses when asked for `requested` (0 or less: every available core):
// at most the available cores.
int threads_for(int requested);

// Work (in units of arithmetic) below which a part would cost more in starting a thread than
// it saves.
constexpr double EM_WORK_PER_PART = 1 << 16;

// Number of parts worth running for `work` units of arithmetic on at most `threads` threads:
// small problems stay on the calling thread, where starting threads would cost more than it
// saves. Always at least 1 and at most max_parts.
int em_parts_for(double work, int threads, int max_parts);

// Starts a thread running body, or throws std::system_error when no thread can be had.
typedef std::thread (*thread_starter)(std::function<void()> body);

// The starter em_run_parts uses unless told otherwise: a std::thread.
std::thread start_thread(std::function<void()> body);

// Runs task(part) for part = 0..parts-1: part 0 on the calling thread, every other part on a
// thread of its own made by `start`; a part whose thread cannot be started (std::system_error)
// runs on the calling thread instead. Returns when all have finished. When parts throw, the
// exception of the lowest such part is rethrown on the calling thread after every part has
// ended.
void em_run_parts(int parts, const std::function<void(int part)> &task, thread_starter start = start_thread);

// First index of part `part` when first..last (inclusive) is cut into `parts` contiguous
// ranges whose lengths are multiples of `grain` (except the last); part = parts gives last + 1.
int em_range_start(int first, int last, int parts, int part, int grain);

}  // namespace mogem::detail

#endif
