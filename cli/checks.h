// Checks a run makes before it starts: that no result replaces the input file, and that the
// data are numbers the model can be fitted to.
//
// A result name that reaches the input file (the same file by device and inode: a second
// name, a link, "./" in front) would replace the data the user meant to cluster. A NaN or an
// infinity among the data would turn every mean, variance and posterior into NaN, and the run
// would label every point 1 as if it had succeeded.
#ifndef MOGEM_CLI_CHECKS_H
#define MOGEM_CLI_CHECKS_H

#include "engine/em_types.h"

namespace mogem::detail {

// 1 when both names exist and are the same file, else 0.
int same_file(const char *a, const char *b);

// Before anything is read: when the labels file is the input file, writes "Error: the output
// file <output> is the input file <input>; ..." on standard error and ends the run with exit
// code -1.
void refuse_output_over_input(const char *input, const char *output);

// After the parameters are read, before the run: the same for the model files (when
// output_model is 1) and the data dump (when output_internal is 1) named after the labels
// file. The numbered snapshots are guarded when they are opened (open_output).
void refuse_outputs_over_input(em_memory *m);

// Ends the run with exit code -1 when a data value is NaN or infinite, naming the input file and
// the value's 1-based row and column on standard error.
void refuse_non_finite_data(em_memory *m);

}  // namespace mogem::detail

#endif
