// Checks the program makes before it fits, on the plan of its result files (cli/result_plan.h):
// that no result replaces the input file, and that every result can be written.
//
// A result name that reaches the input file (the same file by device and inode: a second
// name, a link, "./" in front) would replace the data the user meant to cluster.
#ifndef MOGEM_CLI_CHECKS_H
#define MOGEM_CLI_CHECKS_H

#include <string>

#include "cli/result_plan.h"

namespace mogem::detail {

// True when both names exist and are the same file.
bool same_file(const std::string &a, const std::string &b);

// The one guard of the input: when a planned result, or an existing file named like a snapshot
// of the run (plan.snapshots), is the input file, refuses the run with "Error: the <role>
// <path> is the input file <input>; choose another output name so that the input is not
// overwritten" (mogem::error, invalid_input). Run on the labels file alone before anything is
// read (plan_labels), and on the whole plan after the parameter section.
void refuse_results_over_input(const result_plan &plan);

// Before the data are read: every result can be written where it goes (io/output_file.h's
// plan_write). A result replaced through a temporary needs a writable directory and, where it
// exists, a writable file that is not a directory; a device, pipe or terminal written in place
// must be writable; a descriptor (/dev/stdout) must be open for writing; an existing file
// named like a snapshot must be writable and not a directory. Otherwise refuses the run with
// "Error: could not write the file <path>: <the system's reason>" (mogem::error,
// write_failure), the labels file first, before any work is done.
void refuse_unwritable_results(const result_plan &plan);

}  // namespace mogem::detail

#endif
