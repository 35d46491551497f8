// Fault injection for the program's result files, loaded with LD_PRELOAD in front of the C
// library's write, fsync, close (on descriptors above 2) and rename. Steered by the environment:
//   MOGEM_FAULT_AT=N          the N-th counted call (from 1) fails; unset or 0: calls only counted
//   MOGEM_FAULT_ERRNO=E       its error number; default EIO
//   MOGEM_FAULT_COUNT_FILE=F  at exit: a line per call: its number, the call, the descriptor's
//                             path (or a rename's two names), and "fault" on the one that failed
//   MOGEM_FAULT_RANK=R        under mpirun only the process of rank R counts and fails
//   MOGEM_FAULT_UNDER=P       only descriptors whose path starts with P count (not MPI's sockets)
// A failing call does nothing, but close, which releases the descriptor as Linux does. The record
// is kept in fixed storage and written with the real calls, so it adds no counted call. The C
// library's buffered streams write from inside the library and are not seen.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

void *lookup(const char *name) {
  void *symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) std::abort();
  return symbol;
}
// The C library's own function of that name, looked up once.
#define REAL(name) ([] { static const auto fn = reinterpret_cast<decltype(&::name)>(lookup(#name)); return fn; }())

int fault_errno() {
  const char *text = std::getenv("MOGEM_FAULT_ERRNO");
  const int code = text ? std::atoi(text) : 0;
  return code > 0 ? code : EIO;
}

std::mutex guard;
long calls = 0;
char record[1 << 16];
std::size_t record_used = 0;

bool steered() {
  static const bool chosen = [] {
    const char *rank = std::getenv("MOGEM_FAULT_RANK");
    const char *mine = std::getenv("OMPI_COMM_WORLD_RANK");
    return !rank || (mine && std::atoi(rank) == std::atoi(mine));
  }();
  return chosen;
}

// Counts one call on the given paths; returns true when it is the one that fails.
bool count(const char *call, const char *first, const char *second) {
  if (!steered()) return false;
  std::lock_guard<std::mutex> lock(guard);
  const long n = ++calls;
  const char *at = std::getenv("MOGEM_FAULT_AT");
  const bool fails = at && n == std::atol(at);
  // A line that does not fit is left out whole; the numbers stay exact.
  const std::size_t room = sizeof record - record_used;
  const int wrote = std::snprintf(record + record_used, room, "%ld\t%s\t%s%s%s%s\n", n, call, first,
                                  second ? "\t" : "", second ? second : "", fails ? "\tfault" : "");
  if (wrote > 0 && static_cast<std::size_t>(wrote) < room) record_used += static_cast<std::size_t>(wrote);
  return fails;
}

// A call on a result descriptor, counted under the path the kernel names it by.
bool count_descriptor_call(const char *call, int fd) {
  if (fd <= 2) return false;
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  path[n > 0 ? n : 0] = '\0';
  static const char *const under = std::getenv("MOGEM_FAULT_UNDER");
  if (under && std::strncmp(path, under, std::strlen(under)) != 0) return false;
  return count(call, path, nullptr);
}

__attribute__((destructor)) void write_count_file() {
  const char *path = std::getenv("MOGEM_FAULT_COUNT_FILE");
  const int fd = path && *path && steered() ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
  if (fd < 0) return;
  std::lock_guard<std::mutex> lock(guard);
  for (std::size_t done = 0; done < record_used;) {
    const ssize_t wrote = REAL(write)(fd, record + done, record_used - done);
    if (wrote <= 0) break;
    done += static_cast<std::size_t>(wrote);
  }
  REAL(close)(fd);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t size) {
  if (count_descriptor_call("write", fd)) return errno = fault_errno(), -1;
  return REAL(write)(fd, buffer, size);
}

int fsync(int fd) {
  if (count_descriptor_call("fsync", fd)) return errno = fault_errno(), -1;
  return REAL(fsync)(fd);
}

int close(int fd) {
  if (count_descriptor_call("close", fd)) {
    const int code = fault_errno();
    REAL(close)(fd);
    return errno = code, -1;
  }
  return REAL(close)(fd);
}

int rename(const char *from, const char *to) {
  if (count("rename", from, to ? to : "")) return errno = fault_errno(), -1;
  return REAL(rename)(from, to);
}

}  // extern "C"
