// Every setting of the program, one row each: the keys of a parameter file and the flags of the
// commands (`mogem fit | select | predict`). Everything about a setting is its row.
//
// The reader stores each value through its key's row and takes its defaults from the rows; the
// commands store each flag's value through the same row, so a flag and its key mean the same;
// `mogem --help` and each command's --help list the rows, mogem-csv checks the values a user
// asks it to write against them, the Python layer reads them from the extension module, and a
// test holds README's and the man page's key and flag tables against them. Adding a setting is
// adding a row (and using the value).
#ifndef MOGEM_IO_SETTINGS_H
#define MOGEM_IO_SETTINGS_H

#include <cmath>
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

// What a command line says beyond the settings of a fit: how the data are read and where the
// results go (the rows without a key store here).
struct command_settings {
  char delimiter = 0;                // 0: detected
  int header = -1;                   // -1 detected, 0 none, 1 the first line names the columns
  std::vector<std::string> columns;  // names or 1-based numbers; empty: every numeric column
  bool drop_incomplete = false;
  bool csv_format = false;           // standard output: row, label and probabilities as CSV
  std::string output_prefix;         // write the result files PREFIX.*; empty: standard output
  std::string plot;                  // draw the fit to this PNG; empty: no picture
  bool quiet = false;                // no summary on standard error
};

// What a parameter section (or a command line) says, as the reader builds it pair by pair.
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
  command_settings command;  // the command line's own settings; a parameter file has none
};

// How a command takes a setting: `--name VALUE` (`--name=VALUE`, or `-l VALUE` with a letter).
struct command_flag {
  const char *name = nullptr;          // without the dashes; null: the commands do not take it
  char letter = 0;                     // a one-letter form, or 0
  unsigned commands = 0;               // run_kinds: the commands that take it (fit, select, predict)
  const char *face_default = nullptr;  // the commands' default where it is not the file's; null: the same
  const char *switch_word = nullptr;   // not null: a switch, taking no value and storing this
  const char *help = nullptr;          // the flag's line where the key's help does not fit; null: the same
  // The range a number must lie in on the command line (the key's own rule where it has one).
  double least = -HUGE_VAL, most = HUGE_VAL;
};

struct setting {
  const char *key;  // the parameter file's key; null for a setting of the command line alone
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
  command_flag flag = {};  // how the commands take it
};

// The rows with a key, in the order of the help text; "begin" is not one of them. Static and
// constant.
const std::vector<setting> &settings_table();

// Every row: those of settings_table(), then the settings of the command line alone.
const std::vector<setting> &all_settings();

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
