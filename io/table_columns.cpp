#include "io/table_columns.h"

#include <cstdlib>

#include "io/nearest_word.h"
#include "mogem/mogem.h"

namespace mogem::detail {

namespace {

bool all_digits(const std::string &s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// The 1-based number an item of digits spells, 0 when it is beyond any column count.
std::size_t number_of(const std::string &digits) {
  return digits.size() > 18 ? 0 : static_cast<std::size_t>(std::strtoull(digits.c_str(), nullptr, 10));
}

// The request's columns are the command line's --columns: the error names them as its setting,
// so that the command line reports them as its own bad value.
[[noreturn]] void no_such_column(const std::string &source, const std::string &what) {
  throw error(error::kind::invalid_input, source + ": " + what).about("columns", "");
}

}  // namespace

std::string column_label(std::size_t index, const std::vector<std::string> &names) {
  std::string label = std::to_string(index + 1);
  if (index < names.size()) label += " (\"" + names[index] + "\")";
  return label;
}

std::vector<std::size_t> choose_columns(const std::vector<std::string> &asked, std::size_t count,
                                        const std::vector<std::string> &names, const std::string &source) {
  std::vector<std::size_t> chosen;
  const std::string fields = " (it has " + std::to_string(count) + " column" + (count == 1 ? "" : "s") + ")";
  for (const std::string &item : asked) {
    std::size_t from = 0, to = 0;
    const std::size_t dash = item.find('-');
    if (all_digits(item)) {
      from = to = number_of(item);
      for (std::size_t c = 0; c < names.size() && (from < 1 || from > count); c++)  // a header name "2024"
        if (names[c] == item) from = to = c + 1;
    } else {
      for (std::size_t c = 0; c < names.size() && from == 0; c++)
        if (names[c] == item) from = to = c + 1;
      if (from == 0 && dash != std::string::npos && all_digits(item.substr(0, dash)) &&
          all_digits(item.substr(dash + 1))) {
        from = number_of(item.substr(0, dash));
        to = number_of(item.substr(dash + 1));
        if (from > to) no_such_column(source, "the column range \"" + item + "\" runs backwards");
      } else if (from == 0) {
        if (names.empty())
          no_such_column(source, "no column is named \"" + item + "\": without a header line columns are chosen by "
                                 "number, 1 to " + std::to_string(count) + " (with a header line: --header yes)");
        std::string list;
        for (const std::string &name : names) list += (list.empty() ? "" : ", ") + name;
        no_such_column(source, "no column is named \"" + item + "\"; the header names " + list + did_you_mean(item, names));
      }
    }
    if (from < 1 || to > count || to < 1)
      no_such_column(source, "there is no column " + std::string(from < 1 ? item : std::to_string(to)) + fields);
    for (std::size_t c = from; c <= to; c++) chosen.push_back(c - 1);
  }
  return chosen;
}

}  // namespace mogem::detail
