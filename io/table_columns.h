// The columns of a table a user chose, by header name or 1-based number.
#ifndef MOGEM_IO_TABLE_COLUMNS_H
#define MOGEM_IO_TABLE_COLUMNS_H

#include <cstddef>
#include <string>
#include <vector>

namespace mogem::detail {

// The 0-based indices, in the order asked, of the columns `asked` names among `count`: each
// item a 1-based number, a range "2-4" or (when `names` is not empty: the header) a name. An
// item of digits is a number, unless there is no such column and a column is named so. Throws
// mogem::error(invalid_input, setting() "columns") naming `source` and the item for a column
// that does not exist, with the nearest header name when one is near.
std::vector<std::size_t> choose_columns(const std::vector<std::string> &asked, std::size_t count,
                                        const std::vector<std::string> &names, const std::string &source);

// "3 (\"height\")" or "3": a column as messages name it.
std::string column_label(std::size_t index, const std::vector<std::string> &names);

}  // namespace mogem::detail

#endif
