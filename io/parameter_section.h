// The parameter section of a parameter file: whitespace-separated key/value pairs up to the
// pair whose key is "begin" (its value is any token and ignored), read into the settings
// through the rows of the settings table (io/settings.h).
//
// Unknown keys and keyword values are passed to the caller's warning callback and the reader
// goes on with a default; integers follow strtol and reals strtod, taking the numeric start of
// the token; the keys with a rule take only a whole value, checked once the section is read.
#ifndef MOGEM_IO_PARAMETER_SECTION_H
#define MOGEM_IO_PARAMETER_SECTION_H

#include <cstdio>

#include "io/settings.h"

namespace mogem::detail {

// Gives every setting the default of its row: the counts 0 (missing), the options fields and
// the program's settings as a file without those keys has them.
void set_default_parameters(section_settings *s);

// Stores one key/value pair through its row. Returns 1 when the key is "begin" (s untouched),
// else 0, whether the pair was used, held for its check, defaulted after a warning, or skipped
// as unknown.
int parse_param_pair(const char *key, const char *value, section_settings *s, const warning_sink &warn = {});

// 1 for "1", "yes", "true" and "y"; 0 for every other text, and for null.
int parse_bool(const char *str);

// 1 when the two texts are equal character for character, else 0.
int match(const char *str1, const char *str2);

// Reads the pairs of the open stream up to and including "begin" and checks them: the settings,
// sizes and keys of the file (data empty, data_name the file name). The stream is left just
// after the value of "begin". Refuses (error(invalid_input), naming the file and the problem) a
// stream that cannot be read, ends before "begin", holds a token longer than 511 characters,
// lacks a positive "rows", "cols" or "num_clusters" (each bad one on its own line), has a value
// that breaks its key's rule, or keys that do not go together.
parameter_file read_parameter_section(FILE *fp, const char *filename, const warning_sink &warn);

// The steps after the pairs that turn what they said into settings, for a command line that
// stores its flags through the same rows: init_params in place of init_method, and the
// selection of select_classes, select_em_types and select_criterion. Each refuses a value it
// cannot take as the reader does, naming `source`.
void take_init_params(const char *source, section_settings &s);
selection_settings selection_of(const section_settings &s, const char *source);

}  // namespace mogem::detail

#endif
