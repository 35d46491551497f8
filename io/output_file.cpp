#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mogem/mogem.h"

namespace mogem::detail {

namespace {

constexpr std::size_t BUFFER_BYTES = 1 << 16;

std::string directory_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// Whether `directory` (resolved) lists this process's descriptors: /proc/<pid>/fd, or a
// thread's /proc/<pid>/task/<tid>/fd.
bool is_own_descriptor_directory(const std::string &directory) {
  const std::string own = "/proc/" + std::to_string(static_cast<long>(getpid())) + "/";
  return directory.compare(0, own.size(), own) == 0 && directory.size() >= 3 &&
         directory.compare(directory.size() - 3, 3, "/fd") == 0;
}

// The descriptor `path` names through the process's descriptor directory, following symbolic
// links on the way (/dev/stdout -> /proc/self/fd/1); -1 when it names none. The last link
// (/proc/self/fd/1 -> "pipe:[...]") is not followed: it names no file of the file system.
int descriptor_named(const std::string &path) {
  std::string at = path;
  for (int hop = 0; hop < 40; hop++) {
    const std::string directory = directory_of(at), name = name_of(at);
    char resolved[PATH_MAX];
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos && name.size() < 9 &&
        realpath(directory.c_str(), resolved) && is_own_descriptor_directory(resolved))
      return std::stoi(name);
    char link[PATH_MAX];
    const ssize_t length = readlink(at.c_str(), link, sizeof link - 1);
    if (length <= 0) return -1;
    link[length] = '\0';
    at = link[0] == '/' ? std::string(link) : directory + "/" + link;
  }
  return -1;
}

}  // namespace

std::string temporary_name(const std::string &target, int copy) {
  std::string name = target + ".mogem-tmp." + std::to_string(static_cast<long>(getpid()));
  if (copy > 0) name += "-" + std::to_string(copy + 1);
  return name;
}

write_plan plan_write(const std::string &path) {
  const int descriptor = descriptor_named(path);
  if (descriptor >= 0) return {path, true, descriptor};
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return {path, false};
  std::string target = path;
  if (S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    // A link to nowhere is replaced like a file that is still to be made.
    if (!realpath(path.c_str(), resolved) || stat(resolved, &st) != 0) return {path, false};
    target = resolved;
  }
  return {target, !S_ISREG(st.st_mode)};
}

void write_failed(const std::string &final_name, int error_number) {
  throw error(error::kind::write_failure,
              "Error: could not write the file " + final_name + ": " + std::strerror(error_number));
}

output_file::output_file(const std::string &path, const std::string &final_name, const std::string &open_failure,
                         bool in_place, bool append)
    : final_name_(final_name),
      fd_(in_place ? ::open(path.c_str(), O_WRONLY | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC)
                   : ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) {
  if (fd_ >= 0) {
    buffer_.reserve(BUFFER_BYTES);
    return;
  }
  if (!open_failure.empty()) throw error(error::kind::write_failure, open_failure);
  write_failed(final_name_, errno);
}

output_file::output_file(int descriptor, const std::string &final_name)
    : final_name_(final_name), fd_(fcntl(descriptor, F_DUPFD_CLOEXEC, 3)) {
  if (fd_ < 0) write_failed(final_name_, errno);
  buffer_.reserve(BUFFER_BYTES);
}

output_file::~output_file() {
  if (fd_ >= 0) ::close(fd_);
}

void output_file::put(const char *text, std::size_t length) {
  buffer_.append(text, length);
  if (buffer_.size() >= BUFFER_BYTES) drain();
}

void output_file::put(char c) {
  buffer_.push_back(c);
  if (buffer_.size() >= BUFFER_BYTES) drain();
}

void output_file::put_format(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) write_failed(final_name_, EINVAL);
  if (static_cast<std::size_t>(length) < sizeof text) {
    put(text, static_cast<std::size_t>(length));
    return;
  }
  std::string longer(static_cast<std::size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&longer[0], longer.size(), format, args);
  va_end(args);
  put(longer.data(), static_cast<std::size_t>(length));
}

void output_file::drain() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      write_failed(final_name_, errno);
    }
    done += static_cast<std::size_t>(written);
  }
  buffer_.clear();
}

void output_file::finish() {
  drain();
  struct stat st;
  if (fstat(fd_, &st) != 0) write_failed(final_name_, errno);
  if (S_ISREG(st.st_mode) && ::fsync(fd_) != 0) write_failed(final_name_, errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) write_failed(final_name_, errno);
}

pending_result open_result(const std::string &path, const std::string &open_failure, int copy, bool append) {
  const write_plan plan = plan_write(path);
  pending_result result{path, plan.target, plan.in_place ? "" : temporary_name(plan.target, copy), nullptr};
  if (plan.descriptor >= 0)
    result.out = std::make_unique<output_file>(plan.descriptor, path);
  else if (plan.in_place)
    result.out = std::make_unique<output_file>(plan.target, path, open_failure, true, append);
  else
    result.out = std::make_unique<output_file>(result.temporary, path, open_failure);
  return result;
}

void place_result(const pending_result &result) {
  if (result.temporary.empty()) return;
  if (std::rename(result.temporary.c_str(), result.target.c_str()) != 0) write_failed(result.final_name, errno);
}

void remove_temporary(const pending_result &result) {
  if (!result.temporary.empty()) ::unlink(result.temporary.c_str());
}

void sync_directory_of(const std::string &target, const std::string &final_name) {
  const std::string directory = directory_of(target);
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) write_failed(final_name, errno);
  const int synced = ::fsync(fd);
  const int error_number = errno;
  ::close(fd);
  if (synced != 0) write_failed(final_name, error_number);
}

}  // namespace mogem::detail
