// Further one-based containers and views, with the layout, ownership and failure rules of
// nr/nr_util.h: same handle layout (one spare element in front, contiguous row-major
// elements), contents not initialised, allocators never return null and end the run through
// NR_error with their own text when memory cannot be had or a size cannot exist.
//
// Views give an existing matrix or flat array new index bounds. A view owns only its block of
// row pointers; its elements belong to the matrix or array it looks into, which must outlive
// it. Release a view only with a view release, a container only with its own release.
#ifndef MOGEM_NR_NR_KINDS_H
#define MOGEM_NR_NR_KINDS_H

#include <cstdint>

namespace mogem::detail {

float *NR_vector(long nl, long nh);
void NR_free_vector(float *v, long nl, long nh);

unsigned char *NR_cvector(long nl, long nh);
void NR_free_cvector(unsigned char *v, long nl, long nh);

// Unsigned 4-byte elements, whatever the width of the platform's long.
uint32_t *NR_lvector(long nl, long nh);
void NR_free_lvector(uint32_t *v, long nl, long nh);

float **NR_matrix(long nrl, long nrh, long ncl, long nch);
void NR_free_matrix(float **m, long nrl, long nrh, long ncl, long nch);

int **NR_imatrix(long nrl, long nrh, long ncl, long nch);
void NR_free_imatrix(int **m, long nrl, long nrh, long ncl, long nch);

unsigned char **NR_cmatrix(long nrl, long nrh, long ncl, long nch);
void NR_free_cmatrix(unsigned char **m, long nrl, long nrh, long ncl, long nch);

float ***NR_f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void NR_free_f3tensor(float ***t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

// View of rows oldrl..oldrh of matrix a, renumbered from newrl, whose column newcl is a's
// column oldcl (b[newrl + i - oldrl][newcl + j] is a[i][oldcl + j]). oldch is not used: the
// view does not bound its columns. Release with NR_free_submatrix(b, newrl, ...).
float **NR_submatrix(float **a, long oldrl, long oldrh, long oldcl, long oldch, long newrl, long newcl);
unsigned char **NR_csubmatrix(unsigned char **a, long oldrl, long oldrh, long oldcl, long oldch, long newrl,
                              long newcl);

// View of a zero-based, row-major array a of (nrh - nrl + 1) * (nch - ncl + 1) floats as a
// matrix nrl..nrh x ncl..nch: m[nrl][ncl] is a[0], m[nrl + 1][ncl] is a[ncol].
float **NR_convert_matrix(float *a, long nrl, long nrh, long ncl, long nch);

// Both release only the row-pointer block; nrl is the view's first row. The unsigned char
// view is released through NR_free_submatrix too (its pointer block has the same layout).
void NR_free_submatrix(void *b, long nrl, long nrh, long ncl, long nch);
void NR_free_convert_matrix(float **b, long nrl, long nrh, long ncl, long nch);

}  // namespace mogem::detail

#endif
