#include "engine/kmeans.h"

#include <cmath>
#include <vector>

#include "engine/kernels/block.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"

namespace mogem::detail {

namespace {

// Runs body(first, end, part) over contiguous ranges of the rows 1..N, one per part (at most
// rows.threads, or 1), for `per_row` units of arithmetic a row.
template <typename Body>
void over_row_ranges(const kmeans_rows &rows, double per_row, Body body) {
  const int N = rows.rows;
  if (N < 1) return;
  const int blocks = (N + EM_BLOCK - 1) / EM_BLOCK;
  const int parts = em_parts_for(static_cast<double>(N) * per_row, rows.threads, blocks);
  em_run_parts(parts, [&](int part) {
    body(em_range_start(1, N, parts, part, EM_BLOCK), em_range_start(1, N, parts, part + 1, EM_BLOCK), part);
  });
}

// sums[t] += values[t][i] for the rows 1..N in order, t = 0..T-1, the T sums in registers as
// independent chains of adds (in memory each add waited on the store of the one before).
template <int T>
void add_in_row_order(const double *const *values, int N, double *sums) {
  double sum[T];
  for (int t = 0; t < T; t++) sum[t] = sums[t];
  for (int i = 1; i <= N; i++)
    for (int t = 0; t < T; t++) sum[t] += values[t][i];
  for (int t = 0; t < T; t++) sums[t] = sum[t];
}

// The sums over the rows of all processes of each of the arrays values[t][1..N], in row order:
// one pass, four arrays at a time. *before gets the sum of the rows of the processes before
// this one of values[0] (0 for the first).
std::vector<double> sums_in_row_order(const kmeans_rows &rows, const std::vector<const double *> &values,
                                      double *before) {
  const int T = static_cast<int>(values.size());
  std::vector<double> sums(static_cast<std::size_t>(T), 0.0);
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{sums.data(), sums.size()}}; },
      [&](int) {
        *before = sums[0];
        for (int t = 0; t < T; t += 4) {
          const double *const *v = values.data() + t;
          switch (T - t < 4 ? T - t : 4) {
            case 1: add_in_row_order<1>(v, rows.rows, &sums[t]); break;
            case 2: add_in_row_order<2>(v, rows.rows, &sums[t]); break;
            case 3: add_in_row_order<3>(v, rows.rows, &sums[t]); break;
            default: add_in_row_order<4>(v, rows.rows, &sums[t]); break;
          }
        }
      });
  return sums;
}

// For each target, the first row (0-based over all rows) at which the running sum, from
// `before`, of values first exceeds it; -1 when no row of any process does. One pass over the
// rows for all the targets, the running sum that of one target's scan.
std::vector<long long> first_rows_past(const kmeans_rows &rows, const std::vector<double> &values, double before,
                                       const std::vector<double> &targets) {
  const std::size_t T = targets.size();
  std::vector<double> mine(T, -1.0);
  std::size_t found = 0;
  double running = before;
  for (int i = 1; i <= rows.rows && found < T; i++) {
    running += values[i];
    for (std::size_t t = 0; t < T; t++)
      if (mine[t] < 0.0 && running > targets[t]) mine[t] = static_cast<double>(rows.share->first + i - 1), found++;
  }
  // The running sums grow with the rank, so the first process that finds a row holds the row.
  std::vector<long long> row(T, -1);
  const std::vector<double> all = gather_from_all(*rows.share, mine.data(), T);
  for (std::size_t p = 0; p < all.size() / (T > 0 ? T : 1); p++)
    for (std::size_t t = 0; t < T; t++)
      if (row[t] < 0 && all[p * T + t] >= 0.0) row[t] = static_cast<long long>(all[p * T + t]);
  return row;
}

// to[c][i] = min(from[i], the squared distance of row i from centres[c]) for every centre:
// one pass over the rows, a block at a time laid out for the kernel path's distances.
void closer(const kmeans_rows &rows, const std::vector<const double *> &centres, const std::vector<double> &from,
            const std::vector<double *> &to) {
  const int F = rows.features, C = static_cast<int>(centres.size());
  const kernel_set &kernels = best_kernels();
  over_row_ranges(rows, C * (F + 2.0), [&](int first, int end, int) {
    kernel_buffer coordinates(static_cast<long>(F) * EM_BLOCK), distances(static_cast<long>(C) * EM_BLOCK);
    for (int i = first; i < end; i += EM_BLOCK) {
      const int count = end - i < EM_BLOCK ? end - i : EM_BLOCK;
      const int next = end - i - count < EM_BLOCK ? end - i - count : EM_BLOCK;
      kernels.lay_out_rows(rows.data, i, count, F, coordinates.get());
      kernels.squared_distances(centres.data(), C, F, coordinates.get(), distances.get(), rows.data + i + count, next);
      for (int c = 0; c < C; c++) {
        const double *d = distances.get() + static_cast<long>(c) * EM_BLOCK;
        double *out = to[c] + i;
        const double *in = from.data() + i;
        for (int b = 0; b < count; b++) out[b] = d[b] < in[b] ? d[b] : in[b];
      }
    }
  });
}

// The nearest centre of each of the rows first..first+count-1 (count <= EM_BLOCK) into
// labels, counting the rows whose label changed. The rows are laid out feature by feature, so
// that the loop over the rows of the block runs in vector lanes of the fastest kernel path;
// each lane adds its row's squared differences in ascending feature order.
long long nearest_of_block(const kmeans_rows &rows, double *const *centres, int first, int count, int last_row,
                           int *labels, double *coordinates) {
  const int F = rows.features, K = rows.classes;
  const kernel_set &kernels = best_kernels();
  kernels.lay_out_rows(rows.data, first, count, F, coordinates);
  int best[EM_BLOCK];
  const int next = last_row - first - count + 1 < EM_BLOCK ? last_row - first - count + 1 : EM_BLOCK;
  kernels.nearest_centres(centres, K, F, coordinates, best, rows.data + first + count, next);
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
  closer(rows, {centres[1]}, closest, {closest.data()});
  std::vector<std::vector<double>> candidate(trials, std::vector<double>(static_cast<std::size_t>(F) + 1));
  // Every candidate's D^2 from one pass over the rows, each row's distances to the
  // candidates computed as for one candidate alone; the best one's become the next D^2.
  std::vector<std::vector<double>> tried(trials, std::vector<double>(n));
  std::vector<const double *> candidates(trials), tried_values(trials);
  std::vector<double *> tried_out(trials);
  for (int t = 0; t < trials; t++) candidates[t] = candidate[t].data();
  std::vector<double> targets(trials), draws(trials);
  for (int k = 2; k <= K; k++) {
    double before = 0.0;
    const double total = sums_in_row_order(rows, {closest.data()}, &before)[0];
    for (int t = 0; t < trials; t++) draws[t] = random.next_unit(), targets[t] = draws[t] * total;
    const std::vector<long long> found =
        total > 0.0 ? first_rows_past(rows, closest, before, targets) : std::vector<long long>(trials, -1);
    for (int t = 0; t < trials; t++)
      share_row(*rows.share, found[t] >= 0 ? found[t] : uniform_row(draws[t]), rows.data, F, candidate[t].data());
    for (int t = 0; t < trials; t++) tried_out[t] = tried[t].data(), tried_values[t] = tried[t].data();
    closer(rows, candidates, closest, tried_out);
    const std::vector<double> potential = sums_in_row_order(rows, tried_values, &before);
    int best = 0;
    for (int t = 1; t < trials; t++)
      if (potential[t] < potential[best]) best = t;
    for (int j = 1; j <= F; j++) centres[k][j] = candidate[best][j];
    closest.swap(tried[best]);
  }
}

namespace {

// Adds the rows first..last to the sums of their classes in w.sums (sums[(k - 1) * F + j - 1]),
// in row order. Each part adds a range of features of every row into sums of its own (taken
// from and put back into w.sums): in the shared rows of w.sums two parts' features met in one
// cache line, and every row's adds moved that line between the cores (two threads took twice
// one's time).
void add_class_sums(const kmeans_rows &rows, const int *labels, int first, int last, lloyd_work &w) {
  const int F = rows.features, K = rows.classes;
  if (last < first) return;
  const kernel_set &kernels = best_kernels();
  const int parts = em_parts_for(static_cast<double>(last - first + 1) * F, rows.threads, F);
  if (w.own.size() < static_cast<std::size_t>(parts)) w.own.resize(static_cast<std::size_t>(parts));
  em_run_parts(parts, [&](int part) {
    const int from = em_range_start(1, F, parts, part, 1), to = em_range_start(1, F, parts, part + 1, 1);
    const int width = to - from;
    // A cache line of room after the part's sums, so that no two parts' sums share one.
    std::vector<double> &own = w.own[static_cast<std::size_t>(part)];
    own.resize(static_cast<std::size_t>(K) * width + 8);
    for (int k = 0; k < K; k++)
      for (int j = 0; j < width; j++) own[k * width + j] = w.sums[static_cast<std::size_t>(k) * F + from - 1 + j];
    kernels.add_rows_by_class(rows.data, first, last, labels, from, width, own.data());
    for (int k = 0; k < K; k++)
      for (int j = 0; j < width; j++) w.sums[static_cast<std::size_t>(k) * F + from - 1 + j] = own[k * width + j];
  });
}

}  // namespace

long long assign_to_nearest(const kmeans_rows &rows, double *const *centres, int *labels, lloyd_work *work) {
  lloyd_work own;
  lloyd_work &w = work ? *work : own;
  const int N = rows.rows, F = rows.features, K = rows.classes;
  const int blocks = N > 0 ? (N + EM_BLOCK - 1) / EM_BLOCK : 1;
  w.changed.assign(static_cast<std::size_t>(blocks), 0);
  const std::size_t threads = rows.threads > 0 ? static_cast<std::size_t>(rows.threads) : 1;
  if (w.coordinates.size() < threads) w.coordinates.resize(threads);
  // One process: the first part adds each block's rows to the sums of their new classes while
  // the block is in the cache (the sums of the next iteration, in row order from row 1); the
  // rows of the other parts are added after them. Over several processes the sums are handed
  // on between the processes, so they wait for the assignment.
  const bool sum_here = work && rows.share->alone();
  w.sums_ready = false;
  if (sum_here) w.sums.assign(static_cast<std::size_t>(K) * (F + 1), 0.0);
  int summed_to = 1;  // the rows before it are in the sums
  const kernel_set &kernels = best_kernels();
  over_row_ranges(rows, static_cast<double>(K) * (F + 2.0), [&](int first, int end, int part) {
    std::vector<double> &block = w.coordinates[static_cast<std::size_t>(part)];
    block.resize(static_cast<std::size_t>(F) * EM_BLOCK + 8);  // room after it, as for the sums
    double *coordinates = block.data();
    const bool add = sum_here && part == 0;
    long long moved = 0;
    for (int i = first; i < end; i += EM_BLOCK) {
      const int count = end - i < EM_BLOCK ? end - i : EM_BLOCK;
      moved += nearest_of_block(rows, centres, i, count, end - 1, labels, coordinates);
      if (add) kernels.add_rows_by_class(rows.data, i, i + count - 1, labels, 1, F, w.sums.data());
    }
    if (add) summed_to = end;
    w.changed[(first - 1) / EM_BLOCK] = moved;  // parts start on block boundaries
  });
  if (sum_here) {
    add_class_sums(rows, labels, summed_to, N, w);
    double *const counts = &w.sums[static_cast<std::size_t>(K) * F];
    for (int i = 1; i <= N; i++) counts[labels[i] - 1] += 1.0;
    w.sums_ready = true;
  }
  double mine = 0.0, all = 0.0;  // counts below 2^53 add exactly
  for (long long c : w.changed) mine += static_cast<double>(c);
  sum_over_processes(
      *rows.share, 1, [&](int) { return std::vector<sum_span>{{&all, 1}}; }, [&](int) { all += mine; });
  return static_cast<long long>(all);
}

long long lloyd_step(const kmeans_rows &rows, double **centres, int *labels, double *moved, lloyd_work *work) {
  lloyd_work own;
  lloyd_work &w = work ? *work : own;
  const int N = rows.rows, F = rows.features, K = rows.classes;
  // sums[(k - 1) * F + j - 1] for the class k and feature j, then the K row counts.
  if (!w.sums_ready) {
    w.sums.assign(static_cast<std::size_t>(K) * (F + 1), 0.0);
    sum_over_processes(
        *rows.share, 1, [&](int) { return std::vector<sum_span>{{w.sums.data(), w.sums.size()}}; },
        [&](int) {
          add_class_sums(rows, labels, 1, N, w);
          double *const counts = &w.sums[static_cast<std::size_t>(K) * F];
          for (int i = 1; i <= N; i++) counts[labels[i] - 1] += 1.0;
        });
  }
  w.sums_ready = false;
  const std::vector<double> &sums = w.sums;
  const double *const counts = &sums[static_cast<std::size_t>(K) * F];
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
  return assign_to_nearest(rows, centres, labels, &w);
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
  lloyd_work work;
  assign_to_nearest(rows, centres, labels, budget > 0 ? &work : nullptr);  // no sums for no iteration
  const double enough = tol > 0.0 && budget > 0 ? tol * mean_feature_variance(rows) : 0.0;
  for (int iteration = 1; iteration <= budget; iteration++) {
    double moved = 0.0;
    if (lloyd_step(rows, centres, labels, &moved, &work) == 0 || moved <= enough) return iteration;
  }
  return budget > 0 ? budget : 0;
}

}  // namespace mogem::detail
