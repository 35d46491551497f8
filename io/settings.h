// The keys of a parameter file, one row each: everything about a key is its row.
//
// The reader stores each value through its key's row and takes its defaults from the rows;
// `mogem --help` lists the rows, mogem-csv checks the values a user asks it to write against
// them, the Python layer reads them from the extension module, and a test holds README's and
// the man page's key tables against them. Adding a key is adding a row (and using the value).
#ifndef MOGEM_IO_SETTINGS_H
#define MOGEM_IO_SETTINGS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mogem/files.h"

namespace mogem::detail {

// What the reader tells its caller as it goes: unknown keys and keyword values.
using warning_sink = std::function<void(const std::string &)>;

enum class value_kind { integer, real, boolean, keyword, file_name, text };

// The runs that accept a key: a fit, a selection (select_classes), a prediction (predict_with).
// A prediction refuses a key it does not accept; the other runs say in their own checks.
enum run_kinds : unsigned { FIT_RUN = 1, SELECT_RUN = 2, PREDICT_RUN = 4, EVERY_RUN = 7 };

// What a parameter section says, as the reader builds it pair by pair.
struct section_settings {
  parameter_file file;     // the options and the program's settings; rows, cols and data unset
  int rows = 0, cols = 0;  // as given; checked once the section is read
  // The values of the keys with a rule, as given (the last of a key wins), checked whole once
  // the section is read.
  std::map<std::string, std::string> held;
  std::string select_classes, select_em_types, select_criterion;  // as given
  // init_params as given; once the section is read, any word but "init_method" chooses the
  // start in place of init_method.
  std::string init_params = "init_method";
};

struct setting {
  const char *key;
  value_kind kind;
  std::vector<const char *> words;  // keyword: the accepted words
  const char *default_text;  // as a user writes it; "required" for the counts, "none": no value
  const char *sets;          // the options field it sets, or the program's setting
  unsigned runs;             // run_kinds
  const char *help;          // one line for people
  const char *value_form;    // text: how a value is written; else null
  // Keeps a value (of a keyword: one of `words`) in the record.
  void (*store)(section_settings &s, const char *value);
  // Keyword: the warning around a word that is not one of `words` (before and after the word),
  // then the default is stored. Null: the word is kept for a later check.
  const char *unknown_before = nullptr, *unknown_after = nullptr;
  // Not null: the value is held as given and checked whole once the section is read; it must
  // lie in [least, most] (a keyword: be one of `words`), else it is refused with "it must be
  // <rule>".
  const char *rule = nullptr;
  double least = 0.0, most = 0.0;
};

// The rows, in the order of the help text; "begin" is not one of them. Static and constant.
const std::vector<setting> &settings_table();

// The row of key, or null when the reader does not know it.
const setting *find_setting(const char *key);

// Whether the whole of value is a base-10 integer (in range) or a real number as strtol and
// strtod read them; the number goes to *out when out is not null.
bool whole_integer(const char *value, long *out = nullptr);
bool whole_real(const char *value, double *out = nullptr);

// Whether value is acceptable for the key when writing a file: one of the words of a keyword,
// a whole base-10 integer for an integer, a whole real number for a real, any token otherwise;
// a value with white space or longer than 511 characters is never acceptable. (The reader
// itself takes the numeric start of a token and defaults unknown words.)
bool value_fits(const setting &row, const char *value);

// How --help and the documentation name the values of a row: "integer", "real", the words of a
// keyword joined by " | ", and so on.
std::string value_text(const setting &row);

}  // namespace mogem::detail

#endif
