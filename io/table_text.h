// The table a delimited text holds (io/table_file.h says how it is read).
#ifndef MOGEM_IO_TABLE_TEXT_H
#define MOGEM_IO_TABLE_TEXT_H

#include <cstddef>
#include <string>

#include "io/table_file.h"

namespace mogem::detail {

// The delimiter of a text whose first lines start at `text`: of ',', '\t' and ';' the one
// found most often on the first line and as often on each of the next few (',' first on a tie);
// failing that ' ' (blanks) when the first line holds blanks between its words, else ','.
char detect_delimiter(const char *text, std::size_t length);

// The table in the `length` bytes at `text` (not owned, read only during the call), which came
// from `source` (named so in messages). Fails as read_table does.
table read_text_table(const char *text, std::size_t length, const std::string &source, const table_request &request);

// Whether a field (its surrounding blanks taken off) is a missing value to the table reader:
// empty, one of NA, N/A, n/a, NaN, nan, -nan, NULL, null, None, <NA>, #N/A, or a number
// token that reads as NaN.
bool is_missing_field(const std::string &text);

}  // namespace mogem::detail

#endif
