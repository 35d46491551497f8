// Splitting the E-step and the M-step over threads changes no bit of their results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/em_estep.h"
#include "engine/em_mstep.h"
#include "support/run_binary.h"
#include "support/test_model.h"

using namespace mogem::detail;

namespace {

// 3001 points (not a whole number of blocks) around six means, a covariance of the kind per class.
std::vector<std::vector<double>> cloud(int N, int F) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal;
  std::vector<std::vector<double>> rows(N, std::vector<double>(F));
  for (int i = 0; i < N; i++)
    for (int j = 0; j < F; j++) rows[i][j] = normal(rng) + 3.0 * ((i % 6) == j % 6);
  return rows;
}

void set_model(test_model &t) {
  const int F = t->features;
  for (int k = 1; k <= t->classes; k++) {
    std::vector<double> mean(F);
    for (int j = 0; j < F; j++) mean[j] = 3.0 * ((k - 1) == j % 6) + 0.1 * k;
    t.set_mean(k, mean);
    t.set_spherical(k, 0.5 + 0.25 * k);
    if (t.params().em_type == FULL)
      for (int r = 1; r < F; r++) t->class_variances.full[k][r][r + 1] = t->class_variances.full[k][r + 1][r] = 0.1;
    t->P_j[k] = 1.0 / t->classes;
  }
}

std::vector<double> posteriors(test_model &t) {
  std::vector<double> all;
  for (int k = 1; k <= t->classes; k++) all.insert(all.end(), t->P_j_x[k] + 1, t->P_j_x[k] + 1 + t->datapoints);
  all.insert(all.end(), t->p_x_j + 1, t->p_x_j + 1 + t->classes);
  return all;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

TEST(Threads, EStepIsThePointByPointFormulaForAnyThreadCount) {
  for (int kind : {SCALAR, DIAG, FULL}) {
    test_model t(cloud(3001, 5), 6, kind);
    set_model(t);
    find_P_j_x_threads(t.get(), 1);
    // The formula point by point through the kind's own distance operation.
    std::vector<double> want;
    std::vector<std::vector<double>> terms(t->classes + 1, std::vector<double>(t->datapoints + 1));
    for (int i = 1; i <= t->datapoints; i++) {
      double largest = -INFINITY, denom = 0.0;
      for (int k = 1; k <= t->classes; k++) {
        terms[k][i] = -0.5 * (t->mahalanobis_distance(t.get(), i, k) + t->log_det[k]);
        if (k == 1 || terms[k][i] > largest) largest = terms[k][i];
      }
      for (int k = 1; k <= t->classes; k++) denom += terms[k][i] = std::exp((terms[k][i] - largest) + t->log_p_j[k]);
      for (int k = 1; k <= t->classes; k++) terms[k][i] *= 1.0 / denom;
    }
    for (int k = 1; k <= t->classes; k++) want.insert(want.end(), terms[k].begin() + 1, terms[k].end());
    std::vector<double> got = posteriors(t);
    EXPECT_TRUE(same_bits(std::vector<double>(got.begin(), got.end() - t->classes), want)) << "kind " << kind;

    for (int threads : {2, 3, 7}) {
      find_P_j_x_threads(t.get(), threads);
      EXPECT_TRUE(same_bits(posteriors(t), got)) << "kind " << kind << ", " << threads << " threads";
    }
  }
}

TEST(Threads, RunsWriteTheSameBytesOnOneThreadAndOnTwo) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  std::string data;
  char number[32];
  for (int i = 0; i < 20000; i++)
    for (int j = 0; j < 6; j++) {
      std::snprintf(number, sizeof number, "%.5f%c", normal(rng) + 4.0 * (i % 5 == j), j == 5 ? '\n' : ' ');
      data += number;
    }
  for (const char *kind : {"scalar", "diagonal", "full"}) {
    scratch_dir dir;
    dir.write("in.txt", std::string("rows 20000 cols 6 num_clusters 5 max_em_iterations 4 output_model 1 em_type ") +
                            kind + " begin data\n" + data);
    std::vector<std::string> outputs;
    for (const char *threads : {"1", "2"}) {
      setenv("MOGEM_THREADS", threads, 1);
      const run_result r = run_mogem(dir, {"in.txt", "labels.txt"});
      EXPECT_EQ(r.exit_code, 0);
      outputs.push_back(dir.read("labels.txt") + dir.read("labels.means") + dir.read("labels.variances") +
                        dir.read("labels.weights") + dir.read("labels.probs"));
    }
    unsetenv("MOGEM_THREADS");
    EXPECT_EQ(outputs[0], outputs[1]) << kind;
    EXPECT_GT(outputs[0].size(), 20000u * 5 * 9);
  }
}

TEST(Threads, AThreadCountThatIsNoNumberIsReportedAndIgnored) {
  scratch_dir dir;
  dir.write("in.txt", "rows 4 cols 1 num_clusters 2 max_em_iterations 3 begin data 0 0.1 5 5.1\n");
  setenv("MOGEM_THREADS", "two", 1);
  const run_result r = run_mogem(dir, {"in.txt", "labels.txt"});
  unsetenv("MOGEM_THREADS");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.rfind("MOGEM_THREADS=two is not a positive integer; using all ", 0), 0u) << r.err;
  EXPECT_EQ(dir.read("labels.txt"), "2\n2\n1\n1\n");  // the run itself goes on as ever
}
