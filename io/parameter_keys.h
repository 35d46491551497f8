// The keys a parameter file may hold, described for people: the help text lists them and
// mogem-csv checks what a user asks it to write against them.
//
// The table describes what read_parameters (em_fe_params.h) accepts; it is not used to read
// a file.
#ifndef MOGEM_IO_PARAMETER_KEYS_H
#define MOGEM_IO_PARAMETER_KEYS_H

namespace mogem::detail {

enum em_key_kind { KEY_INTEGER, KEY_REAL, KEY_BOOLEAN, KEY_KEYWORD, KEY_TEXT };

struct em_key_info {
  const char *key;
  em_key_kind kind;
  const char *const *keywords;  // the accepted values of a KEY_KEYWORD key, null-terminated; else null
  const char *default_value;    // as a user would write it; "required" for the three counts
  const char *effect;           // one line
  const char *value_form = nullptr;  // how a KEY_TEXT value is written, when it is not a file name; else null
};

// The keys in the order the reader tests them, "begin" excluded; *count receives their number.
// The table is static and constant.
const em_key_info *em_parameter_keys(int *count);

// The entry for key, or null when the reader does not know it.
const em_key_info *find_em_key(const char *key);

// Whether the whole of value is a base-10 integer (in range) or a real number as strtol and
// strtod read them; the number goes to *out when out is not null.
bool whole_integer(const char *value, long *out = nullptr);
bool whole_real(const char *value, double *out = nullptr);

// Whether value is acceptable for the key: one of the keywords of a KEY_KEYWORD key, a whole
// base-10 integer for KEY_INTEGER, a whole real number for KEY_REAL, any token otherwise; a
// value with white space or longer than 511 characters is never acceptable.
// (The reader itself takes the numeric start of a token and defaults unknown keywords; this
// is the stricter check for writing a file.)
bool em_key_value_ok(const em_key_info *info, const char *value);

}  // namespace mogem::detail

#endif
