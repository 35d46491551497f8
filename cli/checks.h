// Checks the program makes before it fits: that no result replaces the input file.
//
// A result name that reaches the input file (the same file by device and inode: a second
// name, a link, "./" in front) would replace the data the user meant to cluster.
#ifndef MOGEM_CLI_CHECKS_H
#define MOGEM_CLI_CHECKS_H

#include <string>
#include <vector>

namespace mogem::detail {

// True when both names exist and are the same file.
bool same_file(const std::string &a, const std::string &b);

// Before anything is read: when the labels file is the input file, refuses the run with
// "the output file <output> is the input file <input>; ..." (mogem::error, invalid_input).
void refuse_output_over_input(const std::string &input, const std::string &output);

// After the parameters are read: the same for the model files (when output_model is set) and
// the data dump (when output_internal is set) named after the labels file. The numbered
// snapshots are guarded when they are written.
// `others`: further results (summary, saved model, selection table) by their paths.
void refuse_outputs_over_input(const std::string &input, const std::string &output, bool output_model,
                               bool output_internal, const std::vector<std::string> &others = {});

// Before the data are read: every result can be created where it must go. The directory of
// the output exists and is a writable directory; the labels file, the model files (when
// output_model is set), the data dump (output_internal) and any existing file named like a
// snapshot (snapshots) is not a directory and, where it exists, is writable. Otherwise
// refuses the run with "could not write the file <path>: <the system's reason>"
// (mogem::error, write_failure), before any work is done.
void refuse_unwritable_outputs(const std::string &output, bool output_model, bool output_internal, bool snapshots,
                               const std::vector<std::string> &others = {});

}  // namespace mogem::detail

#endif
