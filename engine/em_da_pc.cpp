#include "engine/em_da_pc.h"

#include "nr/nr_eigen.h"
#include "nr/one_based.h"

namespace mogem::detail {

void compute_pc(int i, int j, em_memory *m, double **eigenvectors) {
  const int N = m->datapoints, F = m->features;
  one_based_matrix cov(F, F);
  one_based_vector<double> eigenvalues(F), mean(F), probs(N);
  for (int x = 1; x <= N; x++) probs.get()[x] = m->P_j_x[j][x] + m->P_j_x[i][x];
  for (int k = 1; k <= F; k++) mean.get()[k] = (m->class_means[j][k] + m->class_means[i][k]) * 0.5;
  est_weighted_covar(cov.get(), m->data.get(), mean.get(), probs.get(), N, F, m->share);
  int nrot;
  NR_djacobi(cov.get(), F, eigenvalues.get(), eigenvectors, &nrot);

  int max_idx = 1;
  double max_val = eigenvalues.get()[1];
  for (int k = 2; k <= F; k++) {
    if (eigenvalues.get()[k] > max_val) {
      max_val = eigenvalues.get()[k];
      max_idx = k;
    }
  }
  if (max_idx != 1) {
    for (int r = 1; r <= F; r++) {
      const double dtmp = eigenvectors[r][1];
      eigenvectors[r][1] = eigenvectors[r][max_idx];
      eigenvectors[r][max_idx] = dtmp;
    }
  }
}

int est_weighted_covar(double **cov, double **mat, double *mean, double *probs, int rows, int cols,
                       const row_share &share) {
  for (int j1 = 1; j1 <= cols; j1++)
    for (int j2 = 1; j2 <= cols; j2++) cov[j1][j2] = 0.0;
  double prob_sum = 0.0;
  sum_over_processes(
      share, 1,
      [&](int) {
        std::vector<sum_span> spans{{&prob_sum, 1}};
        for (int j1 = 1; j1 <= cols; j1++) spans.push_back({cov[j1] + j1, static_cast<std::size_t>(cols - j1 + 1)});
        return spans;
      },
      [&](int) {
        for (int r = 1; r <= rows; r++) {
          const double prob = probs[r];
          prob_sum += prob;
          const double *x = mat[r];
          for (int j1 = 1; j1 <= cols; j1++) {
            const double weighted = (x[j1] - mean[j1]) * prob;
            for (int j2 = j1; j2 <= cols; j2++) cov[j1][j2] += (x[j2] - mean[j2]) * weighted;
          }
        }
      });
  // The sample-covariance count n - 1 with the summed weights as n; it would be zero or
  // negative for one point's worth of weight or less.
  const double divisor = prob_sum > 1.0 ? prob_sum - 1.0 : prob_sum > 0.0 ? prob_sum : 1.0;
  for (int j1 = 1; j1 <= cols; j1++)
    for (int j2 = j1; j2 <= cols; j2++) cov[j1][j2] /= divisor;
  for (int j1 = 2; j1 <= cols; j1++)
    for (int j2 = 1; j2 < j1; j2++) cov[j1][j2] = cov[j2][j1];
  return 0;
}

int DA_mean_dmat(double **mat, double *mean, int rows, int cols) {
  for (int j = 1; j <= cols; j++) mean[j] = 0.0;
  for (int r = 1; r <= rows; r++)
    for (int j = 1; j <= cols; j++) mean[j] += mat[r][j];
  for (int j = 1; j <= cols; j++) mean[j] /= rows;
  return 0;
}

}  // namespace mogem::detail
