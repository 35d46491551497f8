// Developer's printers of the model state and its arrays; no run calls them, and they belong
// to the numeric support library, not to the clustering library. The arrays print rows 1..r
// and columns 1..c, values rounded to single precision with "%.5f " between
// "----START <string>" and "----STOP <string>" lines; the transpose prints column j as line j.
#ifndef MOGEM_IO_DEBUG_PRINTERS_H
#define MOGEM_IO_DEBUG_PRINTERS_H

#include <cstdio>

#include "engine/em_types.h"

namespace mogem::detail {

void print_em_memory(em_memory *m);  // to standard error
void print_2d_array(double **array, int r, int c, FILE *fid, const char *string);
void print_2d_array_transpose(double **array, int r, int c, FILE *fid, const char *string);
void print_2d_float_array(float **array, int r, int c, FILE *fid, const char *string);
void print_1d_array(double *array, int c, FILE *fid, const char *string);

}  // namespace mogem::detail

#endif
