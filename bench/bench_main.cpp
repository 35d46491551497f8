// Micro-benchmarks of the data reader and of one E-step and one M-step per covariance kind.
// The thread count follows MOGEM_THREADS as in a run; the E-step is also timed on one thread.
//
//   build/mogem_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/em_mstep.h"
#include "engine/hole_blocks.h"
#include "engine/kmeans.h"
#include "engine/kernels/parallel.h"
#include "engine/model_state.h"
#include "io/number_stream.h"
#include "engine/parameters.h"
#include "mogem/files.h"

using namespace mogem::detail;

namespace {

// N rows of F numbers as the benchmarks' mixture files hold them: "%.6f", K clusters.
std::string mixture_text(int N, int F, int K) {
  std::mt19937_64 rng(1);
  std::normal_distribution<double> normal;
  std::string text;
  char number[40];
  for (int i = 0; i < N; i++)
    for (int j = 0; j < F; j++) {
      std::snprintf(number, sizeof number, "%.6f%c", normal(rng) + 4.0 * ((i % K) == j % K), j + 1 == F ? '\n' : ' ');
      text += number;
    }
  return text;
}

FILE *stream_of(const std::string &text) {
  FILE *fp = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), fp);
  return fp;
}

void BM_ReadNumbers(benchmark::State &state) {
  const std::string text = mixture_text(200000, 16, 8);
  FILE *fp = stream_of(text);
  double sum = 0.0;
  for (auto _ : state) {
    std::rewind(fp);
    number_stream numbers(fp);
    double v;
    while (numbers.read(&v) == NUMBER_READ) sum += v;
  }
  benchmark::DoNotOptimize(sum);
  std::fclose(fp);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadNumbers)->Unit(benchmark::kMillisecond);

void BM_ReadInputFile(benchmark::State &state) {
  const std::string text = "rows 200000 cols 16 num_clusters 8 begin data\n" + mixture_text(200000, 16, 8);
  char name[] = "/tmp/mogem-bench-XXXXXX";
  FILE *fp = fdopen(mkstemp(name), "w");
  std::fwrite(text.data(), 1, text.size(), fp);
  std::fclose(fp);
  for (auto _ : state) {
    mogem::parameter_file file = mogem::read_parameter_file(name);
    benchmark::DoNotOptimize(file.data[0]);
  }
  std::remove(name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadInputFile)->Unit(benchmark::kMillisecond);

// A model of the kind on N x F points around K means, after one E-step.
struct bench_model {
  em_parameters p;
  em_memory *m;
  bench_model(int N, int F, int K, int kind) {
    p = parameters_of(mogem::options{}, N, F);
    p.num_classes = K, p.em_type = kind;
    m = allocate_em_memory(&p);
    m->threads = threads_for(0);
    std::mt19937_64 rng(2);
    std::normal_distribution<double> normal;
    for (int i = 1; i <= N; i++)
      for (int j = 1; j <= F; j++) m->data[i][j] = normal(rng) + 4.0 * ((i % K) == j % K);
    for (int k = 1; k <= K; k++) {
      m->P_j[k] = 1.0 / K;
      for (int j = 1; j <= F; j++) m->class_means[k][j] = m->data[k][j];
      m->kind->set_spherical(m->class_variances, k, F, 1.0);
    }
    find_P_j_x(m);
  }
  ~bench_model() { release_em_memory(m); }
};

void BM_EStep(benchmark::State &state) {
  bench_model b(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)),
                static_cast<int>(state.range(3)));
  for (auto _ : state) find_P_j_x(b.m);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_EStepOneThread(benchmark::State &state) {
  bench_model b(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)),
                static_cast<int>(state.range(3)));
  for (auto _ : state) find_P_j_x_threads(b.m, 1);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The kind's M-step (weights, means and covariances), as one iteration runs it. Each
// repetition starts from the same posteriors, so the work is the same every time.
void BM_MStep(benchmark::State &state) {
  bench_model b(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)),
                static_cast<int>(state.range(3)));
  for (auto _ : state) {
    b.m->kind->m_step(b.m);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One Lloyd iteration of the k-means start on the model's rows, from the centres and labels of
// the k-means++ seeding: the centres moved to their rows' means, every row given to the nearest.
void BM_LloydStep(benchmark::State &state) {
  bench_model b(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)),
                static_cast<int>(state.range(3)));
  em_memory *m = b.m;
  const kmeans_rows rows{m->data.get(), m->datapoints, m->features, m->classes, &m->share, m->threads};
  std::vector<int> labels(static_cast<std::size_t>(m->datapoints) + 1, 0);
  rand48_stream random(42);
  kmeans_plus_plus(rows, random, m->class_means.get());
  assign_to_nearest(rows, m->class_means.get(), labels.data());
  for (auto _ : state) lloyd_step(rows, m->class_means.get(), labels.data());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void step_sizes(benchmark::internal::Benchmark *bench) {
  bench->ArgNames({"N", "F", "K", "kind"});
  for (int kind : {SCALAR, DIAG, FULL}) bench->Args({100000, 16, 8, kind});
  bench->Args({100000, 64, 8, FULL});
  bench->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_EStep)->Apply(step_sizes);
BENCHMARK(BM_EStepOneThread)->Apply(step_sizes);
BENCHMARK(BM_MStep)->Apply(step_sizes);
BENCHMARK(BM_LloydStep)->Args({100000, 16, 8, DIAG})->Args({1000000, 16, 16, DIAG})->Unit(benchmark::kMillisecond);

// One whole EM step on one thread (E-step, weights, means, variances), under the weight rule
// (rule 0) or as stop_rule loglik runs it (rule 1): each row's log density written by the
// E-step too (one log a row) and summed into the mean log-likelihood per row. The difference is
// the rule's cost per step.
void BM_EMStepOneThread(benchmark::State &state) {
  bench_model b(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)),
                static_cast<int>(state.range(3)));
  b.m->threads = 1;
  std::vector<double> densities(state.range(4) ? static_cast<std::size_t>(state.range(0)) : 0);
  b.m->log_density = state.range(4) ? densities.data() : nullptr;
  for (auto _ : state) {
    find_P_j_x(b.m);
    double total = 0.0;
    for (double v : densities) total += v;
    benchmark::DoNotOptimize(total);
    b.m->kind->m_step(b.m);
  }
  b.m->log_density = nullptr;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EMStepOneThread)
    ->ArgNames({"N", "F", "K", "kind", "rule"})
    ->Args({1000000, 16, 16, DIAG, 0})
    ->Args({1000000, 16, 16, DIAG, 1})
    ->Unit(benchmark::kMillisecond);

// Rows with holes, per class: the factor of one pattern (F = 16, the first `observed` features
// seen) and each row's distance under it, over 4096 rows (one-based, as the engine holds them).
struct pattern_bench {
  static constexpr int F = 16, rows = 4096;
  hole_pattern pattern;
  pattern_factor factor;
  std::vector<double> sigma, data, mean;
  explicit pattern_bench(int observed) : sigma(F * F), data(static_cast<std::size_t>(rows) * (F + 1)), mean(F + 1) {
    std::mt19937_64 rng(1);
    std::normal_distribution<double> normal;
    std::vector<double> b(F * F);
    for (double &v : b) v = normal(rng);
    for (int r = 0; r < F; r++)  // B B^T / F + I
      for (int c = 0; c < F; c++) {
        double s = 0.0;
        for (int t = 0; t < F; t++) s += b[r * F + t] * b[c * F + t];
        sigma[r * F + c] = s / F + (r == c);
      }
    for (double &v : data) v = normal(rng);
    for (int j = 1; j <= F; j++) (j <= observed ? pattern.observed : pattern.missing).push_back(j);
    factor_pattern(sigma.data(), F, pattern, &factor);
  }
};

void BM_PatternFactor(benchmark::State &state) {
  pattern_bench b(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(factor_pattern(b.sigma.data(), b.F, b.pattern, &b.factor));
}

void BM_ObservedDistance(benchmark::State &state) {
  pattern_bench b(static_cast<int>(state.range(0)));
  double scratch[pattern_bench::F];
  for (auto _ : state) {
    double total = 0.0;
    for (int i = 0; i < b.rows; i++)
      total += observed_distance(b.factor, &b.data[static_cast<std::size_t>(i) * (b.F + 1)], b.mean.data(), b.pattern, scratch);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * b.rows);
}
// The same rows, HOLE_BLOCK at a time.
void BM_ObservedDistances(benchmark::State &state) {
  pattern_bench b(static_cast<int>(state.range(0)));
  std::vector<const double *> rows(b.rows + 1);
  std::vector<int> numbers(b.rows);
  for (int i = 1; i <= b.rows; i++) rows[i] = &b.data[static_cast<std::size_t>(i - 1) * (b.F + 1)], numbers[i - 1] = i;
  std::vector<double> out(b.rows), scratch(HOLE_BLOCK * pattern_bench::F);
  for (auto _ : state) {
    observed_distances(b.factor, rows.data(), numbers.data(), b.rows, b.mean.data(), b.pattern, out.data(), scratch.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * b.rows);
}
BENCHMARK(BM_PatternFactor)->ArgName("observed")->DenseRange(14, 16);
BENCHMARK(BM_ObservedDistance)->ArgName("observed")->DenseRange(14, 16);
BENCHMARK(BM_ObservedDistances)->ArgName("observed")->DenseRange(14, 16);

}  // namespace

BENCHMARK_MAIN();
