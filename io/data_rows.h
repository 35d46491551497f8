// The data section of a parameter file: rows x cols numbers after the value of "begin", read
// by one reader that hands the numbers in order to a sink: the whole matrix, blocks of rows as
// they come, or (io/data_share.h) one process's share.
//
// A regular file is read in pieces on several threads (io/data_pieces.h); any other stream in
// order on the calling thread. Both give the same numbers and the same first failure: a value
// that is missing or not a number is refused naming its row and column.
#ifndef MOGEM_IO_DATA_ROWS_H
#define MOGEM_IO_DATA_ROWS_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "io/data_pieces.h"

namespace mogem::detail {

// Where the data section lies in the open file: from the stream's position (ftell, not the
// descriptor's offset: the stream has read ahead into its buffer) to the end of the file.
struct data_section {
  bool regular;     // a regular file whose position is known; else begin and end mean nothing
  long long begin;  // the byte after the value of "begin"
  long long end;    // the file's size
};

// The data section of the open stream, which stands just after the value of "begin".
data_section data_section_of(FILE *fp);

// What the data section holds and how to read it. Not owned: the stream, the name, the callback.
struct data_reading {
  const char *filename;
  FILE *fp;                   // at the start of the data section
  data_section section;
  std::size_t rows, cols;     // both positive
  int threads;                // for a regular file
  std::function<void()> checkpoint;  // called every few thousand rows; may throw to stop
  bool nan_is_missing = false;       // missing_values em: a refused token is told how a hole is written
};

using number_sink = std::function<void(const double *values, std::size_t n)>;

// The first `values` numbers of the section handed to take in runs, in order; in pieces on
// the threads for a regular file unless in_order is set (take is then always called on the
// calling thread). Returns how many were taken and why the reading stopped.
span_reading read_numbers(const data_reading &r, std::size_t values, const number_sink &take, bool in_order = false);

// Refuses the input naming the row and column of value `index` (0-based, row by row), which is
// missing or not a number (with nan_is_missing, such as NA: "write a missing value as nan").
[[noreturn]] void refuse_value(const data_reading &r, unsigned long long index, number_status status);

// rows x cols, or NR_error when the bytes of that many doubles do not fit in the address space.
unsigned long long matrix_values(std::size_t rows, std::size_t cols);

// Room for `values` doubles, or NR_error when they cannot be held.
std::vector<double> allocate_matrix(unsigned long long values);

// The whole matrix, row by row. Allocated at once when the section can hold it; a file too
// short for it is read into storage that grows with what it holds, so that a few bytes asking
// for a huge matrix cost a few bytes of memory and are refused at their first missing value.
std::vector<double> read_whole_matrix(const data_reading &r);

// The rows handed to on_rows a block of at most rows_per_block rows at a time, in order, never
// held whole; the blocks before a bad value are handed over before it is refused.
void read_row_blocks(const data_reading &r, std::size_t rows_per_block,
                     const std::function<void(const double *values, std::size_t rows)> &on_rows);

}  // namespace mogem::detail

#endif
