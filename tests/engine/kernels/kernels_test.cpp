// Every kernel path (default, AVX2, AVX-512 where the build and the CPU have them) gives, for
// every covariance kind and 1, 2 or 3 threads, the bits of the point-by-point formulas: the
// E-step through the kind's own mahalanobis_* and the M-step sums as plain loops in ascending
// point order. Features 1..17 reach every remainder of the 32-, 16-, 8- and 4-wide loops and of
// the quadratic-form and covariance tiles; N is below one block or not a whole number of blocks,
// and large enough that 2 and 3 threads really cut the work.
#include "engine/kernels/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/em_estep.h"
#include "engine/em_mstep.h"
#include "engine/kernels/parallel.h"
#include "support/same_model.h"
#include "support/test_model.h"

using namespace mogem::detail;

namespace {

constexpr int KINDS[] = {SCALAR, DIAG, FULL, TIED};
constexpr int THREADS[] = {1, 2, 3};

// N (odd, so no whole number of blocks) with work enough for three parts in the lightest step
// that runs kernels (M-step means: F per point and class; FULL covariances: F*F/2).
int large_N(int F, int K) {
  return static_cast<int>(std::ceil(3 * EM_WORK_PER_PART / (K * std::min(1.0 * F, 0.5 * F * F)))) | 1;
}

// N points of F coordinates in [-1, 1), half of them shifted by 3 in every sixth feature.
std::vector<std::vector<double>> cloud(int N, int F) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<std::vector<double>> rows(N, std::vector<double>(F));
  for (int i = 0; i < N; i++)
    for (int j = 0; j < F; j++) rows[i][j] = uniform(rng) + 3.0 * (i % 2 == 0 && j % 6 == 0);
  return rows;
}

// Means apart, every stored covariance value distinct (a band for FULL and TIED), weights unequal,
// and an annealing exponent that is not 1.
void set_model(test_model &t) {
  const int K = t->classes;
  const int F = t->features;
  const covariance_kind_ops &kind = *t->kind;
  for (int k = 1; k <= K; k++) {
    std::vector<double> mean(F);
    for (int j = 0; j < F; j++) mean[j] = 3.0 * (k == 1 && j % 6 == 0) + 0.1 * k;
    t.set_mean(k, mean);
    t.set_spherical(k, 0.5 + 0.25 * k);
    // Tied classes all read and write class 1's matrix: it is set once.
    for (long e = 0; e < (kind.kind == TIED && k > 1 ? 0 : kind.values_per_class(F)); e++) {
      double &value = kind.value(t->class_variances, k, F, e);
      if (value != 0.0) value += 0.01 * e;
    }
    if (kind.kind == FULL || kind.kind == TIED)
      for (int r = 1; r < F; r++) t->class_variances.full[k][r][r + 1] = t->class_variances.full[k][r + 1][r] = 0.1;
    t->P_j[k] = k == 1 ? 0.3 : 0.7;
  }
  t->inv_temp = 0.75;
}

// The E-step's outputs: P_j_x class by class.
std::vector<double> estep_outputs(test_model &t) {
  const int K = t->classes;
  std::vector<double> all;
  for (int k = 1; k <= K; k++) all.insert(all.end(), t->P_j_x[k] + 1, t->P_j_x[k] + 1 + t->datapoints);
  return all;
}

// The same, point by point, from the per-class constants the E-step has stored.
std::vector<double> estep_formula(test_model &t) {
  const int K = t->classes;
  const int N = t->datapoints;
  std::vector<std::vector<double>> posterior(K + 1, std::vector<double>(N + 1));
  std::vector<double> terms(K + 1);
  for (int i = 1; i <= N; i++) {
    double largest = 0.0, sum = 0.0;
    for (int k = 1; k <= K; k++) {
      terms[k] = -0.5 * (t->kind->mahalanobis_distance(t.get(), i, k) + t->log_det[k]);
      if (k == 1 || terms[k] > largest) largest = terms[k];
    }
    for (int k = 1; k <= K; k++) sum += terms[k] = std::exp(t->inv_temp * ((terms[k] - largest) + t->log_p_j[k]));
    const double reciprocal = 1.0 / sum;
    for (int k = 1; k <= K; k++) posterior[k][i] = terms[k] * reciprocal;
  }
  std::vector<double> all;
  for (int k = 1; k <= K; k++) all.insert(all.end(), posterior[k].begin() + 1, posterior[k].end());
  return all;
}

// Posteriors for the M-step, with every seventh exactly 0 (such points are left out).
void set_posteriors(test_model &t) {
  const int K = t->classes;
  for (int k = 1; k <= K; k++)
    for (int i = 1; i <= t->datapoints; i++) t->P_j_x[k][i] = (i + k) % 7 == 0 ? 0.0 : 0.05 + 0.9 * ((i * k) % 11) / 10;
}

// The M-step's outputs: weights, means, every stored covariance value.
std::vector<double> mstep_outputs(test_model &t) {
  const int K = t->classes;
  const int F = t->features;
  std::vector<double> all(&t->P_j[1], &t->P_j[1] + K);
  for (int k = 1; k <= K; k++) all.insert(all.end(), t->class_means[k] + 1, t->class_means[k] + 1 + F);
  for (int k = 1; k <= K; k++)
    for (long e = 0; e < t->kind->values_per_class(F); e++) all.push_back(t->kind->value(t->class_variances, k, F, e));
  return all;
}

// The same as plain loops over the points, i ascending, from the posteriors set_posteriors gives.
std::vector<double> mstep_formula(test_model &t) {
  const int K = t->classes;
  const int N = t->datapoints, F = t->features;
  double **x = t->data.get(), **P = t->P_j_x.get();
  std::vector<double> weights, means, variances;
  std::vector<double> pooled(static_cast<std::size_t>(F) * F, 0.0);  // TIED: the scatters, summed over k
  for (int k = 1; k <= K; k++) {
    double sum = 0.0;
    for (int i = 1; i <= N; i++) sum += P[k][i];
    weights.push_back(sum / N);
  }
  for (int k = 1; k <= K; k++) {
    const double inv = 1.0 / (weights[k - 1] * N);
    std::vector<double> mean(F + 1), square(F + 1);
    for (int j = 1; j <= F; j++) {
      double sum = 0.0, squares = 0.0;
      for (int i = 1; i <= N; i++)
        if (P[k][i] != 0.0) sum += P[k][i] * x[i][j], squares += x[i][j] * (P[k][i] * x[i][j]);
      mean[j] = sum * inv;
      square[j] = squares;
    }
    means.insert(means.end(), mean.begin() + 1, mean.end());
    switch (t->kind->kind) {
      case SCALAR: {
        double sum = 0.0;
        for (int i = 1; i <= N; i++) {
          if (P[k][i] == 0.0) continue;
          double distance = 0.0;
          for (int j = 1; j <= F; j++) distance += (x[i][j] - mean[j]) * (x[i][j] - mean[j]);
          sum += P[k][i] * distance;
        }
        variances.push_back(std::max(sum / (static_cast<double>(N) * F * weights[k - 1]), mogem::options{}.variance_floor));
        break;
      }
      case DIAG:
        for (int j = 1; j <= F; j++) variances.push_back(std::max(square[j] * inv - mean[j] * mean[j], mogem::options{}.variance_floor));
        break;
      default:
        for (int r = 1; r <= F; r++)
          for (int s = 1; s <= F; s++) {
            double sum = 0.0;
            for (int i = 1; i <= N; i++)
              if (P[k][i] != 0.0) sum += P[k][i] * (mean[std::min(r, s)] - x[i][std::min(r, s)]) *
                                         (mean[std::max(r, s)] - x[i][std::max(r, s)]);
            if (t->kind->kind == TIED) pooled[(r - 1) * F + (s - 1)] += sum;
            else variances.push_back(r == s ? std::max(sum * inv, mogem::options{}.variance_floor) : sum * inv);
          }
    }
  }
  // TIED: the pooled scatter over N, its diagonal floored, the one matrix read back for every class.
  for (int k = 1; k <= K && t->kind->kind == TIED; k++)
    for (int e = 0; e < F * F; e++)
      variances.push_back(e % (F + 1) == 0 ? std::max(pooled[e] / N, mogem::options{}.variance_floor) : pooled[e] / N);
  weights.insert(weights.end(), means.begin(), means.end());
  weights.insert(weights.end(), variances.begin(), variances.end());
  return weights;
}

// The path named by the test's parameter; skips when this build or CPU lacks it.
class KernelPath : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "default") {
      kernels_ = &default_kernels();
      return;
    }
    const bool avx2 = GetParam() == "avx2";
    kernels_ = avx2 ? avx2_kernels() : avx512_kernels();
    if (!kernels_) GTEST_SKIP() << "this build has no " << GetParam() << " path (its CMake option off, or not GCC on x86-64)";
    if (!(avx2 ? cpu_has_avx2() : cpu_has_avx512())) GTEST_SKIP() << "this CPU does not run " << GetParam();
  }

  std::string where(int kind, int K, int F, int N, int threads) const {
    return GetParam() + " path, kind " + std::to_string(kind) + ", K " + std::to_string(K) + ", F " +
           std::to_string(F) + ", N " + std::to_string(N) + ", " + std::to_string(threads) + " threads";
  }

  const kernel_set *kernels_ = nullptr;
};

// For each F, N below one block and N beyond several; 2 classes, and 9, more than the 8 lanes
// of a 512-bit vector that the scalar variance gives a class each.
TEST_P(KernelPath, StepsAreThePointByPointFormulas) {
  for (int K : {2, 9})
    for (int F = 1; F <= 17; F++)
      for (int N : {37, large_N(F, K)}) {
        const std::vector<std::vector<double>> rows = cloud(N, F);
        for (int kind : KINDS) {
          test_model e(rows, K, kind), m(rows, K, kind);
          e->kernels = m->kernels = kernels_;
          set_model(e);
          std::vector<double> estep_want, mstep_want;
          for (int threads : THREADS) {
            find_P_j_x_threads(e.get(), threads);
            if (estep_want.empty()) estep_want = estep_formula(e);  // needs the constants the step stored
            EXPECT_TRUE(same_bits(estep_outputs(e), estep_want)) << "E-step, " << where(kind, K, F, N, threads);
            m->threads = threads;
            set_posteriors(m);
            if (mstep_want.empty()) mstep_want = mstep_formula(m);
            m->kind->m_step(m.get());
            EXPECT_TRUE(same_bits(mstep_outputs(m), mstep_want)) << "M-step, " << where(kind, K, F, N, threads);
          }
        }
      }
}

// The k-means assignment of a block: the nearest centre by the squared distance from 0 in
// feature order, a tie (centres 2 and 3 alike) to the lower number, a NaN row to centre 1.
TEST_P(KernelPath, NearestCentresAreThoseOfThePointByPointDistances) {
  const int F = 5, K = 4;
  const std::vector<std::vector<double>> rows = cloud(EM_BLOCK, F);
  std::vector<double> coordinates(F * EM_BLOCK);
  for (int b = 0; b < EM_BLOCK; b++)
    for (int j = 0; j < F; j++) coordinates[j * EM_BLOCK + b] = b == 7 ? std::nan("") : rows[b][j];
  test_model t(rows, K, DIAG);
  for (int k = 1; k <= K; k++) t.set_mean(k, std::vector<double>(F, k == 3 ? 0.2 : 0.1 * k + (k == 1 ? 1.0 : 0.0)));
  int best[EM_BLOCK], chosen[K + 1] = {};
  kernels_->nearest_centres(t->class_means.get(), K, F, coordinates.data(), best, nullptr, 0);
  for (int b = 0; b < EM_BLOCK; b++) {
    int want = 1;
    double nearest = 0.0;
    for (int k = 1; k <= K; k++) {
      double sum = 0.0;
      for (int j = 0; j < F; j++) {
        const double d = coordinates[j * EM_BLOCK + b] - t->class_means[k][j + 1];
        sum += d * d;
      }
      if (k == 1 || sum < nearest) nearest = sum, want = k;
    }
    EXPECT_EQ(best[b], want) << GetParam() << " path, point " << b;
    chosen[best[b]]++;
  }
  EXPECT_TRUE(chosen[1] > 0 && chosen[2] > 0 && chosen[3] == 0) << "the NaN row, the tie";
}

// The other k-means kernels, for every F to 17 (every remainder of the L x L transposes and
// the vectors of features) and a full block and a part of one: the layout is the rows' values
// moved (zeros past the count), the k-means++ distances the point-by-point sums, and the
// centre sums plain adds in row order (the features from 2 on, as a part of two adds them).
TEST_P(KernelPath, KMeansLayoutDistancesAndCentreSumsAreThePointByPointOnes) {
  for (int F = 1; F <= 17; F++)
    for (int count : {EM_BLOCK, 37}) {
      const std::vector<std::vector<double>> cloud_rows = cloud(count + 1, F);
      std::vector<std::vector<double>> one_based(count + 2, std::vector<double>(F + 1, 0.0));
      std::vector<double *> data(count + 2);
      for (int i = 1; i <= count + 1; i++) {
        std::copy(cloud_rows[i - 1].begin(), cloud_rows[i - 1].end(), one_based[i].begin() + 1);
        data[i] = one_based[i].data();
      }
      std::vector<double> laid(F * EM_BLOCK, -1.0), want(F * EM_BLOCK, 0.0);
      kernels_->lay_out_rows(data.data(), 1, count, F, laid.data());
      for (int b = 0; b < count; b++)
        for (int j = 0; j < F; j++) want[j * EM_BLOCK + b] = data[1 + b][j + 1];
      EXPECT_TRUE(same_bits(laid, want)) << "layout, " << GetParam() << ", F " << F << ", " << count << " rows";
      const double *centres[2] = {data[count + 1], data[3]};
      std::vector<double> distances(2 * EM_BLOCK), sums_want(2 * EM_BLOCK, 0.0);
      kernels_->squared_distances(centres, 2, F, laid.data(), distances.data(), data.data() + 1, 4);
      for (int c = 0; c < 2; c++)
        for (int b = 0; b < EM_BLOCK; b++) {
          double sum = 0.0;
          for (int j = 0; j < F; j++) {
            const double d = want[j * EM_BLOCK + b] - centres[c][j + 1];
            sum += d * d;
          }
          sums_want[c * EM_BLOCK + b] = sum;
        }
      EXPECT_TRUE(same_bits(distances, sums_want)) << "distances, " << GetParam() << ", F " << F;
      const int from = F > 1 ? 2 : 1, width = F - from + 1;
      std::vector<int> labels(count + 1);
      for (int i = 1; i <= count; i++) labels[i] = 1 + (i * 7) % 3;
      std::vector<double> sums(3 * width, 0.5), plain(3 * width, 0.5);
      kernels_->add_rows_by_class(data.data(), 1, count, labels.data(), from, width, sums.data());
      for (int i = 1; i <= count; i++)
        for (int j = 0; j < width; j++) plain[(labels[i] - 1) * width + j] += data[i][from + j];
      EXPECT_TRUE(same_bits(sums, plain)) << "centre sums, " << GetParam() << ", F " << F;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, KernelPath, testing::Values("default", "avx2", "avx512"),
                         [](const testing::TestParamInfo<std::string> &info) { return info.param; });

}  // namespace
