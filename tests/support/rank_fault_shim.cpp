// Fault injection for runs over several processes, loaded by mpirun into every process (-x
// LD_PRELOAD=...) in front of the plain operator new. Steered by the environment:
//   MOGEM_FAULT_RANK=R     the process it acts on (OMPI_COMM_WORLD_RANK); unset: all
//   MOGEM_FAULT_NEW_AT=N   that process's N-th operator new throws std::bad_alloc; unset: none
//   MOGEM_FAULT_MARK_AT=M  every process marks its M-th operator new (its fit is under way)
//   MOGEM_FAULT_RECORD=F   F.<rank> gets "pid P" at start, "mark T" and "fault T" (T: wall clock
//                          in microseconds) and "allocations N" at exit
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

namespace {

long number(const char *name) {
  const char *text = std::getenv(name);
  return text ? std::atol(text) : 0L;
}

long own_rank() { return number("OMPI_COMM_WORLD_RANK"); }

bool acts_here() { return !std::getenv("MOGEM_FAULT_RANK") || number("MOGEM_FAULT_RANK") == own_rank(); }

const long fail_at = acts_here() ? number("MOGEM_FAULT_NEW_AT") : 0L;
const long mark_at = number("MOGEM_FAULT_MARK_AT");
std::atomic<long> calls{0};

// Adds the line "<what> <value>" to this process's record (the C library's stream allocates
// with malloc, not with operator new).
void record(const char *what, long long value, bool first = false) {
  const char *base = std::getenv("MOGEM_FAULT_RECORD");
  if (!base || !*base) return;
  char path[4096];
  std::snprintf(path, sizeof path, "%s.%ld", base, own_rank());
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
