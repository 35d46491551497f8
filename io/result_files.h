// The result files of a run.
//
// Labels file (named by the command line): one class number per data point, "%i\n".
// Model files, when output_model is 1, named after it: ".means" (K lines of F values),
// ".variances" (K x F, per-feature variances of any covariance kind), ".weights" (K lines of
// one value) and ".probs" (N lines of K posteriors, point first). Every model value is rounded
// to single precision and printed with "%f"; values on a line are separated by one tab and
// every line ends with "\n".
//
// A file that cannot be opened or written completely is reported on standard error with its
// name and the system's reason, counted in m->output_errors (the run then ends with exit
// code 1) and the remaining files are still written.
#ifndef MOGEM_IO_RESULT_FILES_H
#define MOGEM_IO_RESULT_FILES_H

#include <cstdio>

#include "engine/em_types.h"

namespace mogem::detail {

// Writes the model files when requested, then the labels file.
void report_results(em_memory *m);

// Writes ".means", ".variances", ".weights" and ".probs" in that order.
void create_all_output_files(em_memory *m);

// A new text (caller frees it with free) made of base up to the last "." of its last path
// component, followed by ext; base whole when that component has no dot. Null when no memory
// could be had. "labels.txt" -> "labels.means", "a.b.c" -> "a.b.means", "run.1/labels" ->
// "run.1/labels.means", "dir/.hidden" -> "dir/.means" (for ext ".means").
char *create_filename(const char *base, const char *ext);

// Fills v[1..classes][1..features] with one variance per class and feature for the run's
// covariance kind: the scalar repeated, the diagonal, or the diagonal of the full matrix.
void class_variances(em_memory *m, double **v);

// Writes one output file: opens name, has write fill it, closes it; a failure at any point is
// reported and counted as above. Takes ownership of name (from create_filename) and frees it;
// a null name (no memory for it) is reported with `what`.
void write_output_file(em_memory *m, char *name, const char *what, void (*write)(em_memory *, FILE *));

// Opens name for writing, or reports it (see above) and returns null. A name that is the input
// file is reported and refused the same way, so the input is never overwritten.
FILE *open_output(em_memory *m, const char *name);

// Closes a stream from open_output; a write error or failing close is reported and counted.
void close_output(em_memory *m, FILE *fp, const char *name);

}  // namespace mogem::detail

#endif
