// A data table as users hold it: a CSV or TSV text, or a NumPy .npy file, read into a matrix
// of doubles for the command line's fit, select and predict.
//
// Text: records end at LF or CRLF outside quotes; fields are split at the delimiter and may be
// enclosed in double quotes ("" is one quote inside them); blanks around a field are ignored;
// empty lines are skipped; a UTF-8 byte-order mark is ignored. With the delimiter ' ', any run
// of blanks separates fields. Numbers are read as the parameter file's reader reads them
// (io/number_stream.h), to the same doubles. A field that is empty, a NaN, or NA, N/A, n/a,
// NULL, null, None, <NA> or #N/A is missing; an infinity is refused. Regular files are read
// mapped into memory, other input (a pipe) whole first; then in pieces cut at line breaks on
// several threads, with the same result on any thread count.
//
// NumPy: the .npy format, versions 1.0 to 3.0, of float64 or float32 in either byte order and
// in C or Fortran order, one or two dimensions (a vector is one column). Read mapped into
// memory where the file allows it; float32, big-endian and Fortran order are converted.
#ifndef MOGEM_IO_TABLE_FILE_H
#define MOGEM_IO_TABLE_FILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace mogem::detail {

// How the user asked for the data.
struct table_request {
  std::string path;  // "-" is standard input (text, or .npy recognised by its first bytes)
  char delimiter = 0;  // 0: detected from the first lines (',', '\t', ';', else blanks ' ')
  int header = -1;     // -1 detected (the first line is a header when none of its fields is a
                       // number), 0 none, 1 the first line names the columns
  // Columns by header name or 1-based number, in the order wanted; "2-4" is a range. Empty:
  // every numeric column, those whose first data field is not text (a number or missing).
  std::vector<std::string> columns;
  bool drop_incomplete = false;  // drop rows with a missing field instead of refusing them
  bool keep_missing = false;     // keep missing fields as NaN (both set: refused)
  int threads = 0;               // 0: every available core
};

struct table {
  std::vector<double> values;      // rows x cols, row-major
  std::size_t rows = 0, cols = 0;
  std::vector<std::string> names;  // one per column: the header's, else the 1-based column number
  std::size_t dropped = 0;         // rows dropped by drop_incomplete
};

// Reads the table the request names: NumPy when the path ends in ".npy" (or standard input
// starts with NumPy's magic bytes), text otherwise. Throws mogem::error (invalid_input) for a
// file that cannot be read, a bad request (a column that does not exist, both missing-value
// choices), a malformed record or a field that is not a number, missing or not finite (naming
// the file, line, column number and name, the field and the remedy), a table without rows;
// numerical_failure when the table cannot be held in memory.
table read_table(const table_request &request);

}  // namespace mogem::detail

#endif
