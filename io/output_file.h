// Result files written whole or not at all: the text goes through a buffer to write(2), then
// fsync and close, into a temporary file beside the final one, which is renamed into place
// only when it is complete.
//
// Every failure throws mogem::error of kind write_failure with the text
// "could not write the file <final name>: <the system's reason>", naming the file the
// user asked for, never the temporary.
#ifndef MOGEM_IO_OUTPUT_FILE_H
#define MOGEM_IO_OUTPUT_FILE_H

#include <cstddef>
#include <string>

namespace mogem::detail {

// The temporary beside `final_name` that a run writes first: "<final_name>.mogem-tmp.<pid>".
std::string temporary_name(const std::string &final_name);

// Where the text for `path` goes. A regular file, or one still to be made, is replaced by a
// temporary renamed onto it; a symbolic link is followed, so that the link stays and its
// target is replaced. Anything else that exists (a device such as /dev/null or /dev/full, a
// pipe) is written in place: renaming onto it would replace the device itself.
struct write_plan {
  std::string target;  // the file to replace or write
  bool in_place;       // write target directly, without a temporary
};
write_plan plan_write(const std::string &path);

// Throws the write_failure error for `final_name` and errno value `error_number`.
[[noreturn]] void write_failed(const std::string &final_name, int error_number);

class output_file {
 public:
  // Creates `path` (which must not exist yet: a leftover is never written into) for writing,
  // or with in_place opens the existing `path` as it is (emptied, or with append to go on at
  // its end: the next process's part of the file); failures are reported under `final_name`,
  // or with open_failure when that is not empty.
  output_file(const std::string &path, const std::string &final_name, const std::string &open_failure = "",
              bool in_place = false, bool append = false);
  // Closes a file finish() did not; its temporary stays for the caller to remove.
  ~output_file();
  output_file(const output_file &) = delete;
  output_file &operator=(const output_file &) = delete;

  void put(const char *text, std::size_t length);
  void put(char c);
  void put_format(const char *format, ...) __attribute__((format(printf, 2, 3)));

  // Writes what is buffered, has the system put it on the disk (a regular file), and closes it.
  void finish();

 private:
  void drain();
  std::string path_, final_name_;
  int fd_;
  std::string buffer_;
};

// Renames `temporary` to `target`, replacing it; failures are reported under `final_name`.
void rename_into_place(const std::string &temporary, const std::string &target, const std::string &final_name);

// Has the system put the directory holding `target` on the disk, so a rename in it survives a
// power loss; failures are reported under `final_name`.
void sync_directory_of(const std::string &target, const std::string &final_name);

}  // namespace mogem::detail

#endif
