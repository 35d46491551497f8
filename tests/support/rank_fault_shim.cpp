// Fault injection for runs over several processes: a library that mpirun loads into every
// process (mpirun -x LD_PRELOAD=...), acting on one of them. Steered by the environment:
//   MOGEM_FAULT_RANK=R        the process it acts on (its rank, OMPI_COMM_WORLD_RANK); unset: all
//   MOGEM_FAULT_NEW_AT=N      that process's N-th operator new (from 1) throws std::bad_alloc, as
//                             a refused allocation does; unset or 0: none fails, the calls are
//                             only counted
//   MOGEM_FAULT_MARK_AT=M     the M-th operator new of every process is marked in its record (a
//                             test waits for it to know that the fit is under way)
//   MOGEM_FAULT_RECORD=F      F.<rank> gets a line "pid P" at start (for a test that signals or
//                             kills one process), "mark T" at the M-th operator new, "fault T"
//                             when the allocation fails (T: the wall clock in microseconds) and
//                             "allocations N" at exit
// Only the plain operator new stands in; the others (aligned, nothrow) reach the C++ library.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

namespace {

int own_rank() {
  const char *rank = std::getenv("OMPI_COMM_WORLD_RANK");
  return rank ? std::atoi(rank) : 0;
}

bool acts_here() {
  const char *target = std::getenv("MOGEM_FAULT_RANK");
  return !target || std::atoi(target) == own_rank();
}

const long fail_at = [] {
  const char *at = std::getenv("MOGEM_FAULT_NEW_AT");
  return at && acts_here() ? std::atol(at) : 0L;
}();
const long mark_at = [] {
  const char *at = std::getenv("MOGEM_FAULT_MARK_AT");
  return at ? std::atol(at) : 0L;
}();
std::atomic<long> calls{0};

// Adds the line "<what> <value>" to this process's record (the C library's stream allocates
// with malloc, not with operator new).
void record(const char *what, long long value, bool first = false) {
  const char *base = std::getenv("MOGEM_FAULT_RECORD");
  if (!base || !*base) return;
  char path[4096];
  std::snprintf(path, sizeof path, "%s.%d", base, own_rank());
  if (std::FILE *out = std::fopen(path, first ? "w" : "a")) {
    std::fprintf(out, "%s %lld\n", what, value);
    std::fclose(out);
  }
}

__attribute__((constructor)) void record_start() { record("pid", getpid(), true); }
__attribute__((destructor)) void record_end() { record("allocations", calls.load()); }

long long now_us() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

}  // namespace

void *operator new(std::size_t size) {
  const long n = ++calls;
  if (mark_at > 0 && n == mark_at) record("mark", now_us());
  if (fail_at > 0 && n == fail_at) {
    record("fault", now_us());
    throw std::bad_alloc();
  }
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
