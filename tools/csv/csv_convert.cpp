#include "tools/csv/csv_convert.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "io/settings.h"
#include "io/table_records.h"
#include "io/table_text.h"

using namespace mogem::detail;

namespace {

std::string trim(const std::string &s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool all_digits(const std::string &s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

std::vector<std::string> split(const std::string &s, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = s.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(s.substr(start, end - start));
  parts.push_back(s.substr(start));
  return parts;
}

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

bool check_settings(const csv_options &options, std::string *error) {
  bool clusters = false;
  for (std::size_t s = 0; s < options.settings.size(); s++) {
    const std::string &key = options.settings[s].first, &value = options.settings[s].second;
    const setting *row = find_setting(key.c_str());
    if (key == "rows" || key == "cols") {
      *error = quoted(key) + " is counted from the CSV and cannot be set";
      return false;
    }
    if (!row) {
      *error = "unknown parameter " + quoted(key) + " (mogem --help lists them)";
      return false;
    }
    for (std::size_t t = 0; t < s; t++) {
      if (options.settings[t].first == key) {
        *error = "the parameter " + quoted(key) + " is given twice";
        return false;
      }
    }
    if (!value_fits(*row, value.c_str())) {
      std::string accepted;
      for (const char *word : row->words) accepted += std::string(accepted.empty() ? "" : ", ") + word;
      *error = quoted(value) + " is not a valid value of " + quoted(key) +
               (row->kind == value_kind::keyword   ? " (one of " + accepted + ")"
                : row->kind == value_kind::integer ? " (an integer)"
                : row->kind == value_kind::real    ? " (a number)"
                                                   : " (one word)");
      return false;
    }
    // A selection and a prediction take their classes from select_classes and the model.
    clusters |= key == "num_clusters" || key == "select_classes" || key == "predict_with";
  }
  if (!clusters) {
    *error = "num_clusters=K is required (the number of classes to fit), unless select_classes=A:B or "
             "predict_with=MODEL";
    return false;
  }
  return true;
}

// The 0-based field indices the column list names, in its order.
bool resolve_columns(const csv_options &options, const std::vector<std::string> &first, std::vector<int> *picked,
                     std::string *error) {
  const int count = static_cast<int>(first.size());
  if (options.columns.empty()) {
    for (int c = 0; c < count; c++) picked->push_back(c);
    return true;
  }
  for (const std::string &item : split(options.columns, ',')) {
    if (item.empty()) {
      *error = "the column list " + quoted(options.columns) + " has an empty entry";
      return false;
    }
    const std::size_t dash = item.find('-');
    int from = 0, to = 0;
    if (all_digits(item)) {
      from = to = std::atoi(item.c_str());
    } else if (dash != std::string::npos && all_digits(item.substr(0, dash)) && all_digits(item.substr(dash + 1))) {
      from = std::atoi(item.substr(0, dash).c_str());
      to = std::atoi(item.substr(dash + 1).c_str());
      if (from > to) {
        *error = "the column range " + quoted(item) + " runs backwards";
        return false;
      }
    } else if (!options.header) {
      *error = "the column " + quoted(item) + " is not a number; names need --header";
      return false;
    } else {
      for (int c = 0; c < count && from == 0; c++)
        if (trim(first[c]) == item) from = to = c + 1;
      if (from == 0) {
        *error = "no column is named " + quoted(item) + " in the header";
        return false;
      }
    }
    if (from < 1 || to > count) {
      *error = "there is no column " + std::to_string(from < 1 ? from : to) + ": the first line has " +
               std::to_string(count) + " fields";
      return false;
    }
    for (int c = from; c <= to; c++) picked->push_back(c - 1);
  }
  return true;
}

// A field a spreadsheet, R or pandas leaves for a missing value: what the program's own CSV
// reader takes for one (empty, NA, N/A, NaN, -nan, NULL, None, #N/A, ...), and NA or NaN in any case.
bool marks_missing(const std::string &value) {
  std::string lower = value;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return is_missing_field(value) || lower == "na" || lower == "nan";
}

// Whether the settings ask the program to fit rows on their observed values.
bool missing_values_em(const csv_options &options) {
  for (const auto &setting : options.settings)
    if (setting.first == "missing_values") return setting.second == "em";
  return false;
}

// Why the field is no data value, or empty when it is one.
std::string number_problem(const std::string &value) {
  if (value.empty()) return "is empty";
  if (value.size() > 511) return "is longer than 511 characters";
  char *end = nullptr;
  const double x = std::strtod(value.c_str(), &end);
  // The whole field must be the number: strtod stops at a NUL byte, which a field may hold.
  if (end == value.c_str() || end != value.c_str() + value.size()) return "is not a number";
  if (!std::isfinite(x)) return "is not a finite number";
  return "";
}

}  // namespace

csv_result csv_to_parameters(const std::string &text, const std::string &source, const csv_options &options,
                             std::string *params, std::string *error) {
  if (!check_settings(options, error)) return CSV_BAD_REQUEST;
  const std::size_t mark = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte-order mark
  record_cursor cursor{text.data() + mark, text.data() + text.size(), options.delimiter};
  std::vector<std::string> fields, names;
  std::vector<int> picked;
  std::string data, problem;
  long long line = 0;
  int first_count = -1;
  long rows = 0;
  const bool holes = missing_values_em(options);
  while (next_record(cursor, fields, &line, &problem)) {
    if (first_count < 0) {
      first_count = static_cast<int>(fields.size());
      if (!resolve_columns(options, fields, &picked, error)) return CSV_BAD_REQUEST;
      if (options.header) {
        names = fields;
        continue;
      }
    }
    if (static_cast<int>(fields.size()) != first_count) {
      *error = source + ": line " + std::to_string(line) + " has " + std::to_string(fields.size()) +
               " fields, the first line " + std::to_string(first_count);
      return CSV_BAD_DATA;
    }
    for (std::size_t p = 0; p < picked.size(); p++) {
      const int c = picked[p];
      const std::string value = trim(fields[c]);
      const bool missing = marks_missing(value);
      const std::string why = holes && missing ? "" : number_problem(value);
      if (!why.empty()) {
        *error = source + ": line " + std::to_string(line) + ", column " + std::to_string(c + 1) +
                 (names.empty() ? "" : " (" + quoted(trim(names[c])) + ")") + ": " + quoted(value) + " " + why +
                 (rows == 0 && !options.header ? " (a header line needs --header)" : "") +
                 (missing ? " (missing_values=em fits rows with missing values)" : "");
        return CSV_BAD_DATA;
      }
      // The parameter file writes a missing value as nan, whatever the CSV wrote.
      data += holes && missing ? "nan" : value;
      data += p + 1 < picked.size() ? ' ' : '\n';
    }
    rows++;
  }
  if (!problem.empty()) {
    *error = source + ": " + problem;
    return CSV_BAD_DATA;
  }
  if (rows == 0) {
    *error = source + ": holds no data rows";
    return CSV_BAD_DATA;
  }

  std::string out = "rows " + std::to_string(rows) + "\ncols " + std::to_string(picked.size()) + "\n";
  bool iterations = false;
  for (const auto &setting : options.settings) {
    out += setting.first + " " + setting.second + "\n";
    iterations |= setting.first == "max_em_iterations";
  }
  if (!iterations) out += std::string("max_em_iterations ") + DEFAULT_EM_ITERATIONS + "\n";
  out += "begin data\n";
  *params = out + data;
  return CSV_OK;
}
