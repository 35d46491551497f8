// Files for inspecting a run from outside: the data as the engine sees them, and numbered
// snapshots of the model. Nothing reads them back.
//
// Names come from the output file name through create_filename (em_fe_results.h):
// "<base>.internal" and "<base>%05d.means", ".variances", ".labels" for step s, e.g.
// results.txt -> results.internal, results00012.means.
// A file that cannot be opened or written is reported on standard error with its name and
// counted in m->output_errors (the run goes on and ends with exit code 1); the other files
// are still written.
#ifndef MOGEM_IO_DUMP_FILES_H
#define MOGEM_IO_DUMP_FILES_H

#include <cstdio>

#include "engine/em_types.h"

namespace mogem::detail {

// The data file: one line per point, the F values printed with "%f" and separated by tabs;
// lines separated by "\n", none after the last. Does nothing without an output name.
void dumpdata(em_memory *m);

// The snapshot of step `step`: means and per-feature variances (K lines of F values, each
// rounded to single precision and printed with "%4.4f", tab-separated, "\n" after every line)
// and the labels (one "%d\n" per point). The labels are recomputed from the current
// posteriors (find_classifications), the only model state a snapshot changes. Does nothing
// without an output name.
void dumpvars(em_memory *m, int step);

// Developer's printers; no run calls them. The arrays print rows 1..r and columns 1..c,
// values rounded to single precision with "%.5f " between "----START <string>" and
// "----STOP <string>" lines; the transpose prints column j as line j.
void print_em_memory(em_memory *m);  // to standard error
void print_2d_array(double **array, int r, int c, FILE *fid, const char *string);
void print_2d_array_transpose(double **array, int r, int c, FILE *fid, const char *string);
void print_2d_float_array(float **array, int r, int c, FILE *fid, const char *string);
void print_1d_array(double *array, int c, FILE *fid, const char *string);

}  // namespace mogem::detail

#endif
