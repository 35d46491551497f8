// Principal direction of the data two classes share, for pushing coinciding classes apart.
#ifndef MOGEM_ENGINE_EM_DA_PC_H
#define MOGEM_ENGINE_EM_DA_PC_H

#include "engine/em_types.h"
#include "engine/processes.h"

namespace mogem::detail {

// Column 1 of eigenvectors (an F x F matrix the caller owns) receives the unit eigenvector of
// the largest eigenvalue of the covariance of all data points, weighted by the summed
// posteriors of classes i and j and centred on the midpoint of their means; the other columns
// hold the remaining eigenvectors (the old column 1 takes the principal one's place). Of equal
// largest eigenvalues the lowest index wins. The model is not changed. A covariance that does
// not decompose ends the run through NR_error.
void compute_pc(int i, int j, em_memory *m, double **eigenvectors);

// cov[1..cols][1..cols] = sum over rows r of probs[r] (mat[r] - mean)(mat[r] - mean)^T divided
// by a weight count: (sum of probs - 1) when that sum is above 1, the sum itself when it lies
// in (0, 1], and 1 otherwise, so that a cluster holding one point's worth of weight or less
// still gets a finite covariance. Upper triangle accumulated, then mirrored. Returns 0. Over
// several processes (share) the rows are this process's and the sums go on through the
// processes in row order, so that every process gets the covariance of all the rows.
int est_weighted_covar(double **cov, double **mat, double *mean, double *probs, int rows, int cols,
                       const row_share &share = row_share{});

// mean[1..cols] = the column means of rows 1..rows of mat. Returns 0.
int DA_mean_dmat(double **mat, double *mean, int rows, int cols);

}  // namespace mogem::detail

#endif
