#include "engine/kmeans.h"

#include <cmath>
#include <vector>

#include "engine/kernels/block.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"

namespace mogem::detail {

namespace {

double squared_distance(const double *x, const double *c, int F) {
  double sum = 0.0;
  for (int j = 1; j <= F; j++) {
    const double d = x[j] - c[j];
    sum += d * d;
  }
  return sum;
}

// Runs body(first, end) over contiguous ranges of the rows 1..N, one per part, for `per_row`
// units of arithmetic a row.
template <typename Body>
void over_row_ranges(const kmeans_rows &rows, double per_row, Body body) {
  const int N = rows.rows;
  if (N < 1) return;
  const int blocks = (N + EM_BLOCK - 1) / EM_BLOCK;
  const int parts = em_parts_for(static_cast<double>(N) * per_row, rows.threads, blocks);
  em_run_parts(parts, [&](int part) {
    body(em_range_start(1, N, parts, part, EM_BLOCK), em_range_start(1, N, parts, part + 1, EM_BLOCK));
  });
}

// The sum over the rows of all processes of values[1..N], in row order; *before gets the sum of
// the rows of the processes before this one (0 for the first).
double sum_in_row_order(const kmeans_rows &rows, const std::vector<double> &values, double *before) {
  double sum = 0.0;
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{&sum, 1}}; },
      [&](int) {
        *before = sum;
        for (int i = 1; i <= rows.rows; i++) sum += values[i];
      });
  return sum;
}

// The first row (0-based over all rows) at which the running sum, from `before`, of values
// first exceeds `target`; -1 when no row of any process does.
long long first_row_past(const kmeans_rows &rows, const std::vector<double> &values, double before, double target) {
  double running = before;
  double mine = -1.0;
  for (int i = 1; i <= rows.rows; i++) {
    running += values[i];
    if (running > target) {
      mine = static_cast<double>(rows.share->first + i - 1);
      break;
    }
  }
  // The running sums grow with the rank, so the first process that finds a row holds the row.
  for (double theirs : gather_from_all(*rows.share, &mine, 1))
    if (theirs >= 0.0) return static_cast<long long>(theirs);
  return -1;
}

// to[i] = min(from[i], the squared distance of row i from `centre`).
void closer(const kmeans_rows &rows, const double *centre, const std::vector<double> &from, std::vector<double> &to) {
  const int F = rows.features;
  over_row_ranges(rows, F + 2.0, [&](int first, int end) {
    for (int i = first; i < end; i++) {
      const double d = squared_distance(rows.data[i], centre, F);
      to[i] = d < from[i] ? d : from[i];
    }
  });
}

// The nearest centre of each of the rows first..first+count-1 (count <= EM_BLOCK) into
// labels, counting the rows whose label changed. The rows are laid out feature by feature, so
// that the loop over the rows of the block runs in vector lanes of the fastest kernel path;
// each lane adds its row's squared differences in ascending feature order, as
// squared_distance does.
long long nearest_of_block(const kmeans_rows &rows, double *const *centres, int first, int count, int *labels,
                           double *coordinates) {
  const int F = rows.features, K = rows.classes;
  for (int b = 0; b < count; b++) {
    const double *row = rows.data[first + b];
    for (int j = 1; j <= F; j++) coordinates[(j - 1) * EM_BLOCK + b] = row[j];
  }
  for (int b = count; b < EM_BLOCK; b++)
    for (int j = 1; j <= F; j++) coordinates[(j - 1) * EM_BLOCK + b] = 0.0;
  int best[EM_BLOCK];
  best_kernels().nearest_centres(centres, K, F, coordinates, best);
  long long moved = 0;
  for (int b = 0; b < count; b++)
    if (labels[first + b] != best[b]) moved++, labels[first + b] = best[b];
  return moved;
}

}  // namespace

void kmeans_plus_plus(const kmeans_rows &rows, rand48_stream &random, double **centres) {
  const int N = rows.rows, F = rows.features, K = rows.classes;
  const long long total_rows = rows.share->alone() ? N : rows.share->total;
  auto uniform_row = [&](double u) {
    const long long row = static_cast<long long>(u * static_cast<double>(total_rows));
    return row < total_rows ? row : total_rows - 1;
  };
  share_row(*rows.share, uniform_row(random.next_unit()), rows.data, F, centres[1]);
  const int trials = 2 + static_cast<int>(std::log(static_cast<double>(K)));
  const std::size_t n = static_cast<std::size_t>(N) + 1;
  std::vector<double> closest(n, HUGE_VAL);
  closer(rows, centres[1], closest, closest);
  std::vector<std::vector<double>> candidate(trials, std::vector<double>(static_cast<std::size_t>(F) + 1));
  // One candidate's D^2 at a time, and the best candidate's so far: three values a row, so
  // that the kept centre's distances are not computed a second time.
  std::vector<double> tried(n), kept(n);
  std::vector<double> potential(trials);
  for (int k = 2; k <= K; k++) {
    double before = 0.0;
    const double total = sum_in_row_order(rows, closest, &before);
    for (int t = 0; t < trials; t++) {
      const double u = random.next_unit();
      long long row = total > 0.0 ? first_row_past(rows, closest, before, u * total) : -1;
      if (row < 0) row = uniform_row(u);
      share_row(*rows.share, row, rows.data, F, candidate[t].data());
    }
    int best = 0;
    for (int t = 0; t < trials; t++) {
      closer(rows, candidate[t].data(), closest, tried);
      potential[t] = sum_in_row_order(rows, tried, &before);
      if (t == 0 || potential[t] < potential[best]) best = t, tried.swap(kept);
    }
    for (int j = 1; j <= F; j++) centres[k][j] = candidate[best][j];
    closest.swap(kept);
  }
}

long long assign_to_nearest(const kmeans_rows &rows, double *const *centres, int *labels) {
  const int F = rows.features, K = rows.classes;
  const int blocks = rows.rows > 0 ? (rows.rows + EM_BLOCK - 1) / EM_BLOCK : 1;
  std::vector<long long> changed(static_cast<std::size_t>(blocks), 0);
  over_row_ranges(rows, static_cast<double>(K) * (F + 2.0), [&](int first, int end) {
    std::vector<double> coordinates(static_cast<std::size_t>(F) * EM_BLOCK);
    long long moved = 0;
    for (int i = first; i < end; i += EM_BLOCK)
      moved += nearest_of_block(rows, centres, i, end - i < EM_BLOCK ? end - i : EM_BLOCK, labels, coordinates.data());
    changed[(first - 1) / EM_BLOCK] = moved;  // parts start on block boundaries
  });
  double mine = 0.0, all = 0.0;  // counts below 2^53 add exactly
  for (long long c : changed) mine += static_cast<double>(c);
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{&all, 1}}; }, [&](int) { all += mine; });
  return static_cast<long long>(all);
}

long long lloyd_step(const kmeans_rows &rows, double **centres, int *labels, double *moved) {
  const int N = rows.rows, F = rows.features, K = rows.classes;
  // sums[(k - 1) * F + j - 1] for the class k and feature j, then the K row counts.
  std::vector<double> sums(static_cast<std::size_t>(K) * (F + 1), 0.0);
  double *const counts = &sums[static_cast<std::size_t>(K) * F];
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{sums.data(), sums.size()}}; },
      [&](int) {
        // Each part adds a range of features of every row, in row order, into sums of its own
        // (taken from and put back into `sums`, which hold what other processes handed on): in
        // the shared rows of `sums` two parts' features met in one cache line, and every row's
        // adds moved that line between the cores (two threads took twice one's time).
        const int parts = em_parts_for(static_cast<double>(N) * F, rows.threads, F);
        em_run_parts(parts, [&](int part) {
          const int from = em_range_start(1, F, parts, part, 1), to = em_range_start(1, F, parts, part + 1, 1);
          const int width = to - from;
          std::vector<double> own(static_cast<std::size_t>(K) * width);
          for (int k = 0; k < K; k++)
            for (int j = 0; j < width; j++) own[k * width + j] = sums[static_cast<std::size_t>(k) * F + from - 1 + j];
          for (int i = 1; i <= N; i++) {
            double *sum = &own[static_cast<std::size_t>(labels[i] - 1) * width];
            const double *row = rows.data[i] + from;
            for (int j = 0; j < width; j++) sum[j] += row[j];
          }
          for (int k = 0; k < K; k++)
            for (int j = 0; j < width; j++) sums[static_cast<std::size_t>(k) * F + from - 1 + j] = own[k * width + j];
        });
        for (int i = 1; i <= N; i++) counts[labels[i] - 1] += 1.0;
      });
  double move = 0.0;
  for (int k = 1; k <= K; k++) {
    if (counts[k - 1] == 0.0) continue;
    for (int j = 1; j <= F; j++) {
      const double to = sums[static_cast<std::size_t>(k - 1) * F + j - 1] / counts[k - 1];
      move += (to - centres[k][j]) * (to - centres[k][j]);
      centres[k][j] = to;
    }
  }
  if (moved) *moved = move;
  return assign_to_nearest(rows, centres, labels);
}

double mean_feature_variance(const kmeans_rows &rows) {
  const int N = rows.rows, F = rows.features;
  const double all = static_cast<double>(rows.share->alone() ? N : rows.share->total);
  if (all == 0.0 || F == 0) return 0.0;
  // Each feature's sum of squares about its mean, in row order: two passes, as a variance is
  // computed without cancellation.
  std::vector<double> mean(static_cast<std::size_t>(F) + 1), squares(static_cast<std::size_t>(F), 0.0);
  column_means_over_processes(*rows.share, rows.data, N, F, mean.data());
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{squares.data(), squares.size()}}; },
      [&](int) {
        for (int i = 1; i <= N; i++)
          for (int j = 1; j <= F; j++) {
            const double d = rows.data[i][j] - mean[j];
            squares[j - 1] += d * d;
          }
      });
  double sum = 0.0;
  for (int j = 0; j < F; j++) sum += squares[j] / all;
  return sum / F;
}

int lloyd(const kmeans_rows &rows, double **centres, int *labels, int budget, double tol) {
  for (int i = 1; i <= rows.rows; i++) labels[i] = 0;
  assign_to_nearest(rows, centres, labels);
  const double enough = tol > 0.0 && budget > 0 ? tol * mean_feature_variance(rows) : 0.0;
  for (int iteration = 1; iteration <= budget; iteration++) {
    double moved = 0.0;
    if (lloyd_step(rows, centres, labels, &moved) == 0 || moved <= enough) return iteration;
  }
  return budget > 0 ? budget : 0;
}

}  // namespace mogem::detail
