// Result files written whole or not at all: the text goes through a buffer to write(2), then
// fsync and close, into a temporary file beside the final one, which is renamed into place
// only when it is complete. The one routine for that is open_result / place_result.
//
// Every failure throws mogem::error of kind write_failure with the text
// "Error: could not write the file <final name>: <the system's reason>", naming the file the
// user asked for, never the temporary.
#ifndef MOGEM_IO_OUTPUT_FILE_H
#define MOGEM_IO_OUTPUT_FILE_H

#include <cstddef>
#include <memory>
#include <string>

namespace mogem::detail {

// The temporary beside `target` that a run writes first: "<target>.mogem-tmp.<pid>"; the
// copy-th further result of the run with the same target (copy > 0, names that collide) gets
// "-<copy + 1>" after it, so that each is written whole and the last renamed wins.
std::string temporary_name(const std::string &target, int copy = 0);

// Where the text for `path` goes.
// - A path that reaches one of the process's open descriptors (/dev/stdout, /proc/self/fd/N,
//   /dev/fd/N, or a symbolic link to one of them): written through that descriptor, at its
//   offset or, when the shell opened it to append (>>), at its end; never renamed over.
// - A regular file, or one still to be made: replaced by a temporary renamed onto it. A
//   symbolic link to a regular file is followed, so that the link stays and its target is
//   replaced; a link to nowhere is replaced like a file still to be made.
// - Anything else that exists (a device such as /dev/null or /dev/full, a pipe, a terminal),
//   directly or through a symbolic link: written in place, the link left a link.
struct write_plan {
  std::string target;   // the file to replace, or the thing to write in place
  bool in_place;        // written directly, without a temporary
  int descriptor = -1;  // >= 0: written through this descriptor of the process
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
  // Writes through a copy of the process's open `descriptor` (the original stays open).
  output_file(int descriptor, const std::string &final_name);
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
  std::string final_name_;
  int fd_;
  std::string buffer_;
};

// A result on its way to its final name. open_result opens it as plan_write says: a new
// temporary beside the file it replaces, or the device, pipe or descriptor itself. The caller
// fills `out` and finishes it; place_result then renames the temporary onto the target (a
// result written in place has nothing to rename). A result that is not placed is dropped with
// remove_temporary, which leaves what was there before as it was.
struct pending_result {
  std::string final_name;  // the name the user gave
  std::string target;      // the file the temporary replaces, or what is written in place
  std::string temporary;   // "" when written in place
  std::unique_ptr<output_file> out;
};
// copy: as for temporary_name. append: an in-place result goes on at the end of what is there
// (another process's part of the same file).
pending_result open_result(const std::string &path, const std::string &open_failure = "", int copy = 0,
                           bool append = false);
void place_result(const pending_result &result);
void remove_temporary(const pending_result &result);

// Has the system put the directory holding `target` on the disk, so a rename in it survives a
// power loss; failures are reported under `final_name`.
void sync_directory_of(const std::string &target, const std::string &final_name);

}  // namespace mogem::detail

#endif
