// The texts of `mogem --help`, `mogem --version` and each command's --help.
#ifndef MOGEM_CLI_HELP_H
#define MOGEM_CLI_HELP_H

#include <cstdio>

namespace mogem::detail {

// Usage, the parameter keys with their values and defaults, the files a run reads and
// writes, and the exit codes. `program` is the name the usage line shows.
void print_help(std::FILE *out, const char *program);

// The help of `mogem fit`, `mogem select` or `mogem predict` ("fit", "select", "predict"):
// usage, what it does and writes, and its flags from the settings table with their values and
// the commands' defaults.
void print_command_help(std::FILE *out, const char *command_word);

// "mogem <version>\n".
void print_version(std::FILE *out);

// 1 when the argument list is exactly one of the two options, and prints its text on standard
// output; 0 (printing nothing) for every other argument list.
int handle_info_option(int argc, char **argv);

}  // namespace mogem::detail

#endif
