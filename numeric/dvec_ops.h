// Vector and block primitives on one-based double vectors and contiguous matrices.
//
// "Contiguous" means made by NR_dmatrix with low bounds 1, or one slice t[k] of an NR_d3tensor
// made with low bounds 1: the routines that sweep a whole matrix start at m[1][1] and walk the
// element storage row by row. Every sum runs in ascending index order from 0.
#ifndef MOGEM_NUMERIC_DVEC_OPS_H
#define MOGEM_NUMERIC_DVEC_OPS_H

namespace mogem::detail {

// v3[i] = v1[i] - v2[i] for i = 1..n. Returns 0.
int subtract_dvec(double *v1, double *v2, double *v3, int n);

// Row vector times matrix: result[j] = sum over i = 1..nr of v[i] * m[i][j], j = 1..nc, each
// term added as m[i][j] * v[i] + result[j] in ascending i. m contiguous. Returns 0.
int left_mult_dmatrix(double **m, int nr, int nc, double *v, double *result);

// Sum over i = 1..n of x[i] * y[i]; 0 for n < 1.
double dot_product_dvec(double *x, double *y, int n);

// Copies the nr * nc elements starting at a[1][1] to the storage starting at b[1][1] (source
// first). Both contiguous and of the same shape. Returns 0.
int copy_dmat(double **a, double **b, int nr, int nc);

// Sets v[1..n] to zero. Returns 0.
int fast_zero_dvec(double *v, int n);

}  // namespace mogem::detail

#endif
