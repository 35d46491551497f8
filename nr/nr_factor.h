// Factorisations of dense one-based double matrices (rows and columns 1..n).
//
// Every loop and sum runs in a fixed order, so that a factorisation gives the same bits on
// every build; the orders are part of each routine's contract below.
#ifndef MOGEM_NR_NR_FACTOR_H
#define MOGEM_NR_NR_FACTOR_H

namespace mogem::detail {

// Cholesky factorisation A = L L^T in place. Reads only the diagonal and the upper triangle of
// a; writes L's strict lower triangle into a's strict lower triangle and L's diagonal into
// p[1..n]. Element (i, j), j >= i, is a[i][j] minus a[i][k] * a[j][k] for k = i-1 down to 1.
// A diagonal pivot of 0 or below (a matrix that is not positive definite, also only by
// rounding) ends the run through NR_error("NR_dcholdc failed"); a NaN pivot passes.
void NR_dcholdc(double **a, int n, double *p);

// Solves A x = b with the factor NR_dcholdc left in a and p: forward substitution (inner
// terms k = i-1 down to 1), then backward substitution (i = n down to 1, terms k = i+1..n).
// b is only read; x[1..n] is written and may not alias b.
void NR_dcholsl(double **a, int n, double *p, double *b, double *x);

// Crout LU decomposition with implicit (row-scaled) partial pivoting, in place: afterwards a
// holds U on and above the diagonal and the unit-diagonal L below it, for the matrix with its
// rows exchanged as indx[1..n] records (row j was exchanged with row indx[j] at step j);
// *d is +1 or -1 by the parity of the exchanges. On equal scaled pivots the later row wins.
// A zero pivot is replaced by 1.0e-20. A row of zeros ends the run through
// NR_error("Singular matrix in routine NR_dludcmp").
void NR_dludcmp(double **a, int n, int *indx, double *d);

}  // namespace mogem::detail

#endif
