// The whole program as a routine: what `main` does, returning the exit code instead of ending
// the process, so that a harness can run the program again and again in one process.
#ifndef MOGEM_CLI_PROGRAM_H
#define MOGEM_CLI_PROGRAM_H

#include <cstdio>

#include "mogem/mogem.h"
#include "mogem/processes.h"

namespace mogem::detail {

// argv[1] is the input file, argv[2] the output file; further arguments are ignored. With fewer
// than two arguments writes the usage line and returns -1. Otherwise reads the input, refuses a
// run that would overwrite its input, fits (mogem::fit_in_place), writes the results and
// releases everything. Returns 0 for a completed run, 1 when a result file could not be
// written or the numerics failed, -1 for unreadable input or settings that cannot run. The
// library's warnings and errors are printed on standard error as they come. While the fit
// runs, a progress line is shown when standard error is a terminal (progress.h).
// With a group (the processes mpirun started, cli/processes.h) the run is one fit over all of
// them: each reads its share of the data, process 0 alone prints notices and the failure,
// every process returns the same code.
int run_program(int argc, char **argv, const process_group *group = nullptr);

// The exit code of a failure of this kind: -1 for input, 1 for the numerics and for writes.
int exit_code_of(const error &failure);

// Writes a failure as the program reports it: the numerics framed by the lines
// "Numerical Recipes run-time error..." and "...now exiting to system...", every other
// message as it is, each with a final line break.
void print_failure(std::FILE *out, const error &failure);

// The thread cap from MOGEM_THREADS: its value when that is a positive integer, else 0 (every
// core). A value that is set but not a positive integer is reported on standard error.
int threads_from_environment();

}  // namespace mogem::detail

#endif
