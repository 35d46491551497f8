#include "io/table_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "io/npy_file.h"
#include "io/table_text.h"
#include "mogem/mogem.h"

namespace mogem::detail {

namespace {

// The bytes of a file: mapped into memory when it is a regular file that can be, else read.
class file_bytes {
 public:
  file_bytes(const std::string &path, const std::string &source) {
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) refuse_read(source, errno);
    struct stat file;
    // Standard input may stand anywhere in a file: the bytes from there on are the input.
    const off_t at = fd == STDIN_FILENO ? ::lseek(fd, 0, SEEK_CUR) : 0;
    if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && at >= 0 && file.st_size > at) {
      const std::size_t length = static_cast<std::size_t>(file.st_size);
      void *map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        ::madvise(map, length, MADV_SEQUENTIAL);
        map_ = map;
        map_length_ = length;
        data_ = static_cast<const char *>(map) + at;
        size_ = length - static_cast<std::size_t>(at);
      }
    }
    const int read_errno = map_ ? 0 : read_all(fd);
    if (fd != STDIN_FILENO) ::close(fd);
    if (read_errno) refuse_read(source, read_errno);
    if (!map_) data_ = text_.data(), size_ = text_.size();
  }
  file_bytes(const file_bytes &) = delete;
  file_bytes &operator=(const file_bytes &) = delete;
  ~file_bytes() {
    if (map_) ::munmap(map_, map_length_);
  }
  const char *data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  // Reads the rest of fd into text_; 0, or the errno of a failed read.
  int read_all(int fd) {
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno;
      if (got == 0) return 0;
      try {
        text_.append(buffer, static_cast<std::size_t>(got));
      } catch (const std::bad_alloc &) {
        throw error(error::kind::numerical_failure, "the input does not fit in memory");
      }
    }
  }
  [[noreturn]] static void refuse_read(const std::string &source, int number) {
    throw error(error::kind::invalid_input, "cannot read " + source + ": " + std::strerror(number));
  }
  void *map_ = nullptr;
  std::size_t map_length_ = 0;
  const char *data_ = nullptr;
  std::size_t size_ = 0;
  std::string text_;
};

bool ends_with(const std::string &s, const char *suffix) {
  const std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

table read_table(const table_request &request) {
  const std::string source = request.path == "-" ? "standard input" : request.path;
  if (request.drop_incomplete && request.keep_missing)
    throw error(error::kind::invalid_input,
                "rows with a missing value can be dropped or kept, not both: choose one of the two");
  if (request.delimiter == '"' || request.delimiter == '\n' || request.delimiter == '\r')
    throw error(error::kind::invalid_input, "the delimiter cannot be a quote or a line break");
  const file_bytes bytes(request.path, source);
  const bool npy = is_npy(bytes.data(), bytes.size()) || ends_with(request.path, ".npy");
  try {
    if (npy) return read_npy_table(bytes.data(), bytes.size(), source, request);
    return read_text_table(bytes.data(), bytes.size(), source, request);
  } catch (const std::bad_alloc &) {
    throw error(error::kind::numerical_failure, source + ": the table does not fit in memory");
  }
}

}  // namespace mogem::detail
