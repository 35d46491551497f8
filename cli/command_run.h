// The commands `mogem fit DATA`, `mogem select DATA` and `mogem predict MODEL DATA` as routines:
// the data read as users hold them (io/table_file.h), the fit with the commands' defaults,
// the labels on standard output (or the result files of -o PREFIX, all or nothing), a progress
// line on a terminal and a summary for a person on standard error.
#ifndef MOGEM_CLI_COMMAND_RUN_H
#define MOGEM_CLI_COMMAND_RUN_H

namespace mogem::detail {

// argv[0] is the command's word. Returns the exit code: 0 done; 1 data that cannot be read or
// used, a fit that failed numerically, a result that could not be written, a picture that could
// not be drawn; 2 a command line that cannot run (nothing was done; usage_error's message with
// a suggestion); 128 + the signal when interrupted (no result written).
int run_command(int argc, char **argv);

// Whether the arguments name a command (argv[1] is "fit", "select" or "predict") rather than
// the parameter-file form: not when a file of that name exists (a folder does not count), which keeps
// `mogem <input_file> <output_file>` running for a parameter file called "fit".
bool names_a_command(int argc, char **argv);

}  // namespace mogem::detail

#endif
