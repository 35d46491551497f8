// The parameter file and its data matrix.
//
// The file is a stream of whitespace-separated tokens: key/value pairs, the pair whose key is
// "begin" (its value is any token and ignored), then rows x cols numbers in row-major order.
// Unknown keys and keyword values are reported on standard error and the run goes on with a
// default; integers follow strtol and reals strtod, taking the numeric start of the token.
#ifndef MOGEM_IO_PARAMETER_FILE_H
#define MOGEM_IO_PARAMETER_FILE_H

#include "engine/em_types.h"

namespace mogem::detail {

// Reads the whole input file: fills a new em_parameters record (output_filename points at the
// given text, not a copy), allocates the model state from it and fills its data matrix.
// Returns the model state; its `params` is the record. Both are owned by the caller and
// released with release_em_records (em_fe_memory.h).
// Does not return (ends the run with exit code -1 and a message naming the file and the
// problem) when the file cannot be opened, ends before the "begin" pair, holds a token longer
// than 511 characters, lacks a positive "rows", "cols" or "num_clusters", has a data value
// that is missing or not a number (the message gives its row and column), or cannot be closed.
em_memory *read_parameters(const char *filename, const char *output_filename);

// Stores one key/value pair in p. Returns 1 when the key is "begin" (p untouched), else 0,
// whether the pair was used, defaulted after a message, or skipped as unknown.
int parse_param_pair(const char *key, const char *value, em_parameters *p);

// 1 for "1", "yes", "true" and "y"; 0 for every other text, and for null.
int parse_bool(const char *str);

// 1 when the two texts are equal character for character, else 0.
int match(const char *str1, const char *str2);

// Gives every field of p the default a parameter file without that key gets.
void set_default_parameters(em_parameters *p);

}  // namespace mogem::detail

#endif
