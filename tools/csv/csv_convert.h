// A CSV text turned into a mogem parameter file.
#ifndef MOGEM_TOOLS_CSV_CSV_CONVERT_H
#define MOGEM_TOOLS_CSV_CSV_CONVERT_H

#include <string>
#include <utility>
#include <vector>

struct csv_options {
  char delimiter = ',';
  bool header = false;               // the first record names the columns
  // Comma-separated 1-based numbers, ranges "2-4" or header names; empty: all columns.
  std::string columns;
  std::vector<std::pair<std::string, std::string>> settings;  // parameter pairs, in the order given
};

// The default iteration budget written when the settings give none: the program's own default
// (0) runs no EM step at all.
constexpr const char *DEFAULT_EM_ITERATIONS = "100";

// Builds the parameter file for `text` (read from the file called `source`): "rows" and "cols"
// from the data, the settings in their order ("max_em_iterations" added when missing), "begin
// data" and the chosen columns of every record, separated by blanks, as written in the CSV;
// with the setting missing_values=em a field that is empty, NA or NaN (any case) is written nan.
// Returns CSV_OK with *params filled, or else *error says what is wrong:
// CSV_BAD_REQUEST for a setting that is unknown, duplicated, "rows"/"cols", or has a bad
// value, for "num_clusters" missing (without "select_classes" or "predict_with") and for a
// column list that names no column of the file;
// CSV_BAD_DATA (the message starts with `source` and gives the line, and the column where
// one is meant) for a malformed quote, a record with another field count than the first, a
// field that is empty or not a finite number (outside missing_values=em, a missing one names
// that setting as the remedy), or no data records.
enum csv_result { CSV_OK, CSV_BAD_DATA, CSV_BAD_REQUEST };
csv_result csv_to_parameters(const std::string &text, const std::string &source, const csv_options &options,
                       std::string *params, std::string *error);

#endif
