// Eigen-decomposition of a real symmetric one-based double matrix by cyclic Jacobi rotations.
#ifndef MOGEM_NR_NR_EIGEN_H
#define MOGEM_NR_NR_EIGEN_H

namespace mogem::detail {

// Decomposes the symmetric n x n matrix a (only its diagonal and upper triangle are read):
// d[1..n] receives the eigenvalues, unsorted; column k of v (v[1..n][k]) the unit eigenvector
// of d[k]; *nrot the number of rotations. The upper triangle of a is destroyed; its diagonal
// and lower triangle are left alone. Sweeps stop when the off-diagonal sum is exactly 0; the
// first three sweeps rotate only elements above 0.2 x (that sum) / n^2, and from the fifth on
// elements negligible against both diagonal entries are set to 0 without a rotation. No
// convergence within 50 sweeps (e.g. a NaN off the diagonal) ends the run through
// NR_error("Too many iterations in routine NR_djacobi").
void NR_djacobi(double **a, int n, double *d, double **v, int *nrot);

}  // namespace mogem::detail

#endif
