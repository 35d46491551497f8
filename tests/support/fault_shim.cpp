// Fault injection for the program's result files: a library loaded with LD_PRELOAD that stands
// in front of the C library's write, fsync, close and rename.
//
// It counts the calls that can lose a result: write, fsync and close on descriptors above 2
// (standard input, output and error are not result files) and every rename. Steered by the
// environment:
//   MOGEM_FAULT_AT=N         the N-th counted call (from 1) fails, the others go through; unset or
//                            0: none fails, the calls are only counted
//   MOGEM_FAULT_ERRNO=E      the error it fails with: a name (EIO, ENOSPC, EDQUOT, EROFS, EFBIG,
//                            EACCES, EPERM, EBADF, EINTR, ENOENT, EXDEV) or a number; default EIO
//   MOGEM_FAULT_COUNT_FILE=F at exit, F gets the number of counted calls on its first line, then
//                            one line per call: its number, the call, the path of the descriptor
//                            (or the two names of a rename), and "fault" for the one that failed
//
// A failing write writes nothing and a failing fsync syncs nothing. A failing close still
// releases the descriptor, as Linux does when close reports an error; a failing rename renames
// nothing. The library keeps its record in fixed storage and writes it with the real calls, so
// it adds no counted call of its own. The program's own calls reach it only when made through
// the dynamic symbol (the C library's buffered streams write from inside the library and are
// not seen).
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using write_fn = ssize_t (*)(int, const void *, size_t);
using fsync_fn = int (*)(int);
using close_fn = int (*)(int);
using rename_fn = int (*)(const char *, const char *);

template <typename Fn>
Fn real(const char *name) {
  void *symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) std::abort();
  return reinterpret_cast<Fn>(symbol);
}

write_fn real_write() {
  static const write_fn fn = real<write_fn>("write");
  return fn;
}
fsync_fn real_fsync() {
  static const fsync_fn fn = real<fsync_fn>("fsync");
  return fn;
}
close_fn real_close() {
  static const close_fn fn = real<close_fn>("close");
  return fn;
}
rename_fn real_rename() {
  static const rename_fn fn = real<rename_fn>("rename");
  return fn;
}

struct named_error {
  const char *name;
  int code;
};
const named_error error_names[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EDQUOT", EDQUOT}, {"EROFS", EROFS},
                                   {"EFBIG", EFBIG},   {"EACCES", EACCES}, {"EPERM", EPERM},   {"EBADF", EBADF},
                                   {"EINTR", EINTR},   {"ENOENT", ENOENT}, {"EXDEV", EXDEV}};

int fault_errno() {
  const char *text = std::getenv("MOGEM_FAULT_ERRNO");
  if (!text || !*text) return EIO;
  for (const named_error &e : error_names)
    if (std::strcmp(text, e.name) == 0) return e.code;
  const int code = std::atoi(text);
  return code > 0 ? code : EIO;
}

long fault_at() {
  const char *text = std::getenv("MOGEM_FAULT_AT");
  return text ? std::atol(text) : 0;
}

// The record of the calls: a count and as many lines as fit.
std::mutex guard;
long calls = 0;
char record[1 << 16];
std::size_t record_used = 0;

// The path a descriptor stands for, as the kernel names it.
void descriptor_path(int fd, char *path, std::size_t size) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, size - 1);
  path[n > 0 ? n : 0] = '\0';
}

// Counts one call; returns true when it is the one that fails.
bool count(const char *call, const char *first, const char *second) {
  std::lock_guard<std::mutex> lock(guard);
  const long n = ++calls;
  const bool fails = n == fault_at();
  // A line that does not fit any more is left out whole; the count stays exact.
  const std::size_t room = sizeof record - record_used;
  const int wrote = std::snprintf(record + record_used, room, "%ld\t%s\t%s%s%s%s\n", n, call, first ? first : "",
                                  second ? "\t" : "", second ? second : "", fails ? "\tfault" : "");
  if (wrote > 0 && static_cast<std::size_t>(wrote) < room) record_used += static_cast<std::size_t>(wrote);
  return fails;
}

bool count_descriptor_call(const char *call, int fd) {
  char path[4096];
  descriptor_path(fd, path, sizeof path);
  return count(call, path, nullptr);
}

void write_whole(int fd, const char *text, std::size_t size) {
  while (size > 0) {
    const ssize_t n = real_write()(fd, text, size);
    if (n <= 0) return;
    text += n;
    size -= static_cast<std::size_t>(n);
  }
}

// At the end of the process: the count, then the record.
__attribute__((destructor)) void write_count_file() {
  const char *path = std::getenv("MOGEM_FAULT_COUNT_FILE");
  if (!path || !*path) return;
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  std::lock_guard<std::mutex> lock(guard);
  char head[32];
  const int n = std::snprintf(head, sizeof head, "%ld\n", calls);
  write_whole(fd, head, static_cast<std::size_t>(n));
  write_whole(fd, record, record_used);
  real_close()(fd);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t size) {
  if (fd > 2 && count_descriptor_call("write", fd)) {
    errno = fault_errno();
    return -1;
  }
  return real_write()(fd, buffer, size);
}

int fsync(int fd) {
  if (fd > 2 && count_descriptor_call("fsync", fd)) {
    errno = fault_errno();
    return -1;
  }
  return real_fsync()(fd);
}

int close(int fd) {
  if (fd > 2 && count_descriptor_call("close", fd)) {
    const int code = fault_errno();
    real_close()(fd);
    errno = code;
    return -1;
  }
  return real_close()(fd);
}

int rename(const char *from, const char *to) {
  if (count("rename", from, to ? to : "")) {
    errno = fault_errno();
    return -1;
  }
  return real_rename()(from, to);
}

}  // extern "C"
