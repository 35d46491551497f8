// The command line of `mogem fit DATA`, `mogem select DATA` and `mogem predict MODEL DATA`:
// every flag is a row of the settings table (io/settings.h), stored through that row as the
// parameter file's key is, over the commands' own defaults (the rows' face defaults).
//
// Strict: an unknown flag or value, a value out of its range, a missing or surplus argument
// ends the run before any work (usage_error, exit 2), with the nearest flag or word as a
// suggestion.
#ifndef MOGEM_CLI_COMMAND_LINE_H
#define MOGEM_CLI_COMMAND_LINE_H

#include <set>
#include <string>

#include "io/settings.h"

namespace mogem::detail {

enum class command { fit, select, predict };

// A command line that cannot run: the message, without the program's name.
struct usage_error {
  std::string message;
};

struct command_request {
  command which = command::fit;
  bool help = false;                // --help: print the command's help, do nothing else
  std::string model_path;           // predict: the saved model
  std::string data_path;            // "-" is standard input
  section_settings settings;        // the settings (options, selection, command.*) ready to use
  std::set<std::string> given;      // the flags given, by name
};

// The command a word names ("fit", "select", "predict"); false for any other word.
bool command_named(const char *word, command *which);

// The word of a command.
const char *command_word(command which);

// Reads argv[1..argc-1] (argv[0] is the command's word) into a request, with every setting
// checked. Throws usage_error.
command_request parse_command_line(command which, int argc, char **argv);

// The flags a command takes: the rows whose flag the command takes, in the table's order.
std::vector<const setting *> flags_of(command which);

// The library names options fields in its messages: "\n(<field> is --<flag> on the command
// line)" for the field a failure concerns, "" when it concerns none or no flag sets it.
std::string flag_note(const error &failure);

}  // namespace mogem::detail

#endif
