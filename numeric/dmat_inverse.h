// Inverse of a symmetric positive-definite matrix and determinant of a square matrix, for
// one-based contiguous double matrices with rows and columns 1..n (see dvec_ops.h).
//
// Scratch is made with the numeric library's allocators and released before return, also
// when a fatal error ends the run half-way. The `_copy_` forms factor a private copy and leave
// their input unchanged.
#ifndef MOGEM_NUMERIC_DMAT_INVERSE_H
#define MOGEM_NUMERIC_DMAT_INVERSE_H

namespace mogem::detail {

// Writes the inverse of mat into inv[1..n][1..n], column by column from Cholesky solves of
// the unit vectors (no symmetrisation afterwards). Reads only mat's diagonal and upper
// triangle; overwrites mat's strict lower triangle with the Cholesky factor. For n == 1 the
// inverse is 1 / mat[1][1], without a positivity test. A matrix that is not positive definite
// (n >= 2) ends the run through NR_error("NR_dcholdc failed"). Returns 0.
int invert_alloc_sym_dmat(double **mat, int n, double **inv);

// As invert_alloc_sym_dmat, with mat left unchanged. Returns 0.
int invert_copy_alloc_sym_dmat(double **mat, int n, double **inv);

// The determinant of mat: the parity of the row exchanges times the diagonal of U in
// ascending order. Replaces mat by its LU factors (rows permuted). A singular matrix without
// a zero row gives a tiny value (a zero pivot counts as 1.0e-20); a row of zeros ends the run
// through NR_error("Singular matrix in routine NR_dludcmp").
double det_alloc_dmat(double **mat, int n);

// As det_alloc_dmat, with mat left unchanged.
double det_copy_alloc_dmat(double **mat, int n);

}  // namespace mogem::detail

#endif
