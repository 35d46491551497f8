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

#include "mogem/files.h"

namespace mogem::detail {

namespace {

constexpr std::size_t BUFFER_BYTES = 1 << 16;

std::string directory_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string temporary_name(const std::string &final_name) {
  return final_name + ".mogem-tmp." + std::to_string(static_cast<long>(getpid()));
}

write_plan plan_write(const std::string &path) {
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
              "could not write the file " + final_name + ": " + std::strerror(error_number));
}

output_file::output_file(const std::string &path, const std::string &final_name, const std::string &open_failure,
                         bool in_place, bool append)
    : path_(path),
      final_name_(final_name),
      fd_(in_place ? ::open(path.c_str(), O_WRONLY | (append ? O_APPEND : O_TRUNC) | O_CLOEXEC)
                   : ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) {
  if (fd_ >= 0) {
    buffer_.reserve(BUFFER_BYTES);
    return;
  }
  if (!open_failure.empty()) throw error(error::kind::write_failure, open_failure);
  write_failed(final_name_, errno);
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

void rename_into_place(const std::string &temporary, const std::string &target, const std::string &final_name) {
  if (std::rename(temporary.c_str(), target.c_str()) != 0) write_failed(final_name, errno);
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
