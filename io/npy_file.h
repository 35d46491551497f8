// The table a NumPy .npy file holds (io/table_file.h says which ones are read).
#ifndef MOGEM_IO_NPY_FILE_H
#define MOGEM_IO_NPY_FILE_H

#include <cstddef>
#include <string>

#include "io/table_file.h"

namespace mogem::detail {

// Whether the bytes start with the .npy format's magic string.
bool is_npy(const char *bytes, std::size_t length);

// The table in the `length` bytes at `bytes` (not owned, read only during the call), which
// came from `source`. Columns are chosen by number; names are the 1-based column numbers. A
// NaN is a missing value; an infinity is refused. Fails as read_table does, and for a header
// that is not the format's, an element type other than float64 and float32, more than two
// dimensions, or fewer bytes than the shape needs.
table read_npy_table(const char *bytes, std::size_t length, const std::string &source, const table_request &request);

}  // namespace mogem::detail

#endif
