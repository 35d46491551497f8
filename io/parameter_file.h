// The parameter file and its data matrix.
//
// The file is a stream of whitespace-separated tokens: key/value pairs, the pair whose key is
// "begin" (its value is any token and ignored), then rows x cols numbers in row-major order.
// Unknown keys and keyword values are passed to the caller's warning callback and the reader
// goes on with a default; integers follow strtol and reals strtod, taking the numeric start of
// the token. The public reader is mogem::read_parameter_file (mogem/mogem.h).
#ifndef MOGEM_IO_PARAMETER_FILE_H
#define MOGEM_IO_PARAMETER_FILE_H

#include <functional>
#include <string>
#include <vector>

#include "engine/em_types.h"

namespace mogem::detail {

// What the reader tells its caller as it goes: unknown keys and keyword values.
using warning_sink = std::function<void(const std::string &)>;

// Reads the whole input file into p (every key it lacks at its default) and the data matrix,
// rows x cols values row by row. Refuses (refuse_input, with a message naming the file and the
// problem) a file that cannot be opened or closed, ends before the "begin" pair, holds a token
// longer than 511 characters, lacks a positive "rows", "cols" or "num_clusters", or has a data
// value that is missing or not a number (the message gives its row and column); a matrix
// that cannot be held ends in NR_error.
// on_parameters (when not empty) is called once the parameter section is read and checked,
// before the data; checkpoint every few thousand rows. Either may throw to stop the reading.
// When stream_rows is set and returns true for the section, *data stays empty and the rows go
// to on_rows in blocks of at most ROWS_PER_BLOCK rows, in order. Otherwise the data of a regular
// file are read on up to `threads` threads (io/data_pieces.h), with the same values and the
// same first bad row and column whatever their number. With a group of several processes,
// data receives only this process's share, from row *first_row (0-based) on
// (mogem::read_parameter_file).
using row_sink = std::function<void(const double *values, std::size_t rows)>;
constexpr int ROWS_PER_BLOCK = 4096;
void read_parameters(const char *filename, em_parameters *p, std::vector<double> *data, const warning_sink &warn = {},
                     const std::function<void(const em_parameters &)> &on_parameters = {},
                     const std::function<void()> &checkpoint = {},
                     const std::function<bool(const em_parameters &)> &stream_rows = {}, const row_sink &on_rows = {},
                     int threads = 1, const process_group *group = nullptr, std::size_t *first_row = nullptr);

// Stores one key/value pair in p. Returns 1 when the key is "begin" (p untouched), else 0,
// whether the pair was used, defaulted after a warning, or skipped as unknown.
int parse_param_pair(const char *key, const char *value, em_parameters *p, const warning_sink &warn = {});

// 1 for "1", "yes", "true" and "y"; 0 for every other text, and for null.
int parse_bool(const char *str);

// 1 when the two texts are equal character for character, else 0.
int match(const char *str1, const char *str2);

// Gives every field of p the default a parameter file without that key gets.
void set_default_parameters(em_parameters *p);

}  // namespace mogem::detail

#endif
