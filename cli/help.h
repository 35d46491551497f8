// The texts of `mogem --help`, `mogem --version` and each command's --help.
#ifndef MOGEM_CLI_HELP_H
#define MOGEM_CLI_HELP_H

#include <cstdio>
#include <string>
#include <vector>

namespace mogem::detail {

// Usage, the parameter keys with their values and defaults, the files a run reads and
// writes, and the exit codes. `program` is the name the usage line shows.
void print_help(std::FILE *out, const char *program);

// The help of `mogem fit`, `mogem select` or `mogem predict` ("fit", "select", "predict"):
// usage, what it does and writes, and its flags from the settings table with their values and
// the commands' defaults.
void print_command_help(std::FILE *out, const char *command_word);

// A flag as the help, README and the man page list it: the rows of the settings table that share
// a flag within the same commands (--init: the starts of the whole model and of the means) are
// one entry.
struct flag_entry {
  std::string name;                // "--max-iter", "-k, --classes"
  std::string values;              // "N", "X", "FILE", a text's form, or the words joined by ", "; "" for a switch
  std::vector<std::string> words;  // a keyword's words
  unsigned commands;               // run_kinds: fit, select, predict
  std::string default_text;        // the commands' default; "off" for a switch
  std::string help;
};

// Every flag of every command, in the order of the settings table.
std::vector<flag_entry> flag_entries();

// "fit, select", "fit, select, predict", ...
std::string command_names(unsigned commands);

// "mogem <version>\n".
void print_version(std::FILE *out);

// 1 when the argument list is exactly one of the two options, and prints its text on standard
// output; 0 (printing nothing) for every other argument list.
int handle_info_option(int argc, char **argv);

}  // namespace mogem::detail

#endif
