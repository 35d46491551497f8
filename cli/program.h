// The whole program as a routine: what `main` does, returning the exit code instead of ending
// the process, so that a harness can run the program again and again in one process.
#ifndef MOGEM_CLI_PROGRAM_H
#define MOGEM_CLI_PROGRAM_H

namespace mogem::detail {

// argv[1] is the input file, argv[2] the output file; further arguments are ignored. With fewer
// than two arguments writes the usage line and returns -1. Otherwise reads the input, refuses a
// run that would overwrite its input or whose data are not finite (-1), runs the algorithm,
// writes the results and releases everything. Returns 0 for a completed run, 1 when a result
// file could not be written or the numerics failed (NR_error), -1 for unreadable input.
// Nothing stays allocated, whatever the outcome. While the algorithm runs, a progress line is
// shown when standard error is a terminal (em_progress.h).
int run_program(int argc, char **argv);

}  // namespace mogem::detail

#endif
