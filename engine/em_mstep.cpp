#include "engine/em_mstep.h"

#include <climits>
#include <cmath>
#include <vector>

#include "engine/covariance_kinds.h"
#include "engine/em_classify.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"
#include "normalizations/norm_data.h"

namespace mogem::detail {

namespace {

// Points visited together: a block of data rows stays in cache while every class of a part
// adds it in, so the data stream through memory once per update rather than once per class.
constexpr int BLOCK = EM_BLOCK;

// Rows visited together by the passes over the data rows: a whole number of blocks whose
// `values` doubles a row (the coordinates, and any working values the pass keeps for a row)
// fill about a quarter of the second-level cache (256 KiB), at least one block and at most 64.
// Every class of a part adds in the same rows while they are in cache, and each class's
// posteriors are read in runs of that many points: with short runs the loads of the posterior
// streams of many classes interleave too finely for the prefetcher, and the sums wait on
// memory.
int rows_for(int values) {
  const int blocks = 262144 / (static_cast<int>(sizeof(double)) * BLOCK * (values > 0 ? values : 1));
  return BLOCK * (blocks < 1 ? 1 : (blocks > 64 ? 64 : blocks));
}

void rescale_means_if_needed(em_memory *m) {
  if (need_norm(m)) euclidean_norm(m->class_means.get(), m->classes, m->features);
}

// The points of every process: the count the weights and sums are taken over.
double all_points(const em_memory *m) { return static_cast<double>(m->share.total); }

// Whether class k has weight: its effective weight N x P_j[k] is not 0 (a class without is
// skipped and keeps its model).
bool weighted(const em_memory *m, int k) { return m->P_j[k] * all_points(m) != 0.0; }

// The classes 1..K (the weighted ones only, or all), each cut into enough feature ranges that
// `parts` parts all get work.
std::vector<class_features> class_units(em_memory *m, int parts, bool weighted_only) {
  const int K = m->classes, F = m->features;
  const int pieces = K >= parts ? 1 : (parts + K - 1) / K;
  std::vector<class_features> units;
  for (int k = 1; k <= K; k++) {
    if (weighted_only && !weighted(m, k)) continue;
    for (int piece = 0; piece < pieces; piece++) {
      const int first = em_range_start(1, F, pieces, piece, 1), end = em_range_start(1, F, pieces, piece + 1, 1);
      if (first < end) units.push_back({k, first, end - 1});
    }
  }
  return units;
}

// Shares the units (class_features, or any other record of a share of the sums) among at
// most `parts` parts and runs, in each part, over the points first_row..N in blocks: block(part, first,
// last) once per block, then add(part, u, first, last) for each of the part's units, so that
// every unit sees the blocks in ascending order.
template <typename Unit, typename Block, typename Add>
void over_units(em_memory *m, const std::vector<Unit> &units, int parts, int rows, Block block, Add add,
                int first_row = 1) {
  const int N = m->datapoints;
  const int count = static_cast<int>(units.size());
  if (count == 0) return;
  if (parts > count) parts = count;
  em_run_parts(parts, [&](int part) {
    const int from = em_range_start(0, count - 1, parts, part, 1), to = em_range_start(0, count - 1, parts, part + 1, 1);
    for (int i = first_row; i <= N; i += rows) {
      const int last = i + rows - 1 < N ? i + rows - 1 : N;
      block(part, i, last);
      for (int u = from; u < to; u++) add(part, units[u], i, last);
    }
  });
}

// The units to cut the classes into: one share for each of the parts, and over several
// processes at least as many as the stages that balance their pipeline (stages_for), so that
// a few classes still fill it.
int units_wanted(em_memory *m, int parts, double per_point) {
  if (m->share.alone()) return parts;
  const long long pairs = static_cast<long long>(m->classes) * m->features;
  const int stages = stages_for(m->share, pairs < INT_MAX ? static_cast<int>(pairs) : INT_MAX,
                                per_point * m->classes, m->features);
  return stages > parts ? stages : parts;
}

// over_units over the points of every process in rank order (engine/processes.h): the units
// are cut into stages that follow one another through the processes; accumulators(u) names
// the values unit u adds into. Alone this is over_units on all the units.
// per_point: the arithmetic per point and class, as parts_for counts it.
template <typename Unit, typename Block, typename Add, typename Accumulators>
void over_units_of_all(em_memory *m, const std::vector<Unit> &units, int parts, double per_point, int rows,
                       Block block, Add add, Accumulators accumulators) {
  const int count = static_cast<int>(units.size());
  // Every stage keeps work for each of the parts.
  const int stages = stages_for(m->share, count / parts > 1 ? count / parts : 1, per_point * m->classes, m->features);
  auto stage = [&](int s, int edge) { return count == 0 ? 0 : em_range_start(0, count - 1, stages, s + edge, 1); };
  sum_over_processes(
      m->share, stages,
      [&](int s) {
        std::vector<sum_span> spans;
        for (int u = stage(s, 0); u < stage(s, 1); u++) accumulators(units[u], spans);
        return spans;
      },
      [&](int s) {
        const std::vector<Unit> these(units.begin() + stage(s, 0), units.begin() + stage(s, 1));
        over_units(m, these, parts, rows, block, add);
      });
}

// The accumulators of the means of unit u, and of the squares with them.
void mean_sums(em_memory *m, const class_features &u, std::vector<sum_span> &spans) {
  spans.push_back({m->class_means[u.k] + u.first, static_cast<std::size_t>(u.last - u.first + 1)});
}
void mean_and_square_sums(em_memory *m, const class_features &u, std::vector<sum_span> &spans) {
  mean_sums(m, u, spans);
  spans.push_back({m->class_variances.diagonal[u.k] + u.first, static_cast<std::size_t>(u.last - u.first + 1)});
}

void no_block(int, int, int) {}

// Parts for per_point units of work per point and class; never more than there are pairs of
// class and feature to share out (a count that may pass the range of int).
int parts_for(em_memory *m, double per_point) {
  const long long pairs = static_cast<long long>(m->classes) * m->features;
  return em_parts_for(static_cast<double>(m->datapoints) * m->classes * per_point, m->threads,
                      pairs < INT_MAX ? static_cast<int>(pairs) : INT_MAX);
}

// A share of the means (and squares): the features u.first..u.last of the classes
// k[0..classes-1] (k[0] = u.k), all added in one pass over the points.
struct class_group {
  class_features u;
  int k[MEAN_CLASSES];
  int classes;
};

// Whole classes in groups of up to MEAN_CLASSES, as large as still leaves each of the `wanted`
// shares a group; classes cut into feature ranges one by one.
std::vector<class_group> class_groups(const std::vector<class_features> &units, int wanted) {
  std::vector<class_group> groups;
  const int count = static_cast<int>(units.size());
  // class_units cuts every class alike: into ranges, or not at all.
  const bool whole_classes = count < 2 || units[1].k != units[0].k;
  int size = whole_classes && wanted > 0 ? count / wanted : 1;
  if (size > MEAN_CLASSES) size = MEAN_CLASSES;
  if (size < 1) size = 1;
  for (int u = 0; u < count; u += size) {
    class_group g{units[u], {}, 0};
    for (int c = u; c < count && c < u + size; c++) g.k[g.classes++] = units[c].k;
    groups.push_back(g);
  }
  return groups;
}

// The group's sums over the points first..last: means[k][j] += w x (and squares[k][j] += x (w x)
// unless squares is null) for its classes and features, and weights[k] += w when the group
// holds the classes' first feature.
void add_group_sums(em_memory *m, const class_group &g, int first, int last, double *weights, double *const *means,
                    double *const *squares) {
  double *sums = g.u.first == 1 ? weights : nullptr;
  if (squares)
    m->kernels->add_means_and_squares(m, g.u, g.k, g.classes, first, last, sums, means, squares);
  else
    m->kernels->add_means(m, g.u, g.k, g.classes, first, last, sums, means);
}

// The accumulators of a group's means, and of the squares with them; with the weights, the
// group holding a class's first feature adds its weight.
void group_sums(em_memory *m, const class_group &g, bool squares, double *weights, std::vector<sum_span> &spans) {
  for (int c = 0; c < g.classes; c++) {
    const class_features u{g.k[c], g.u.first, g.u.last};
    if (squares)
      mean_and_square_sums(m, u, spans);
    else
      mean_sums(m, u, spans);
    if (g.u.first == 1) spans.push_back({&weights[g.k[c]], 1});
  }
}

// The weights, P_j[k] = (the posteriors of class k summed over the points of every process) /
// the points, and the sums of the means, class_means[k][j] = sum of w x (with squares,
// class_variances.diagonal[k][j] = sum of x (w x) too), all in one pass over the points: the
// weights' sums ride on the pass that reads the posteriors for the means, so the posteriors
// are read once instead of twice. Every class is summed, as the weights are not known before;
// a class left without weight then gets back the model it had. The means are divided by the
// effective weight N x P_j[k] and the squares left as sums. Returns the sum over classes of
// |new weight - old|.
double weights_and_mean_sums(em_memory *m) {
  const bool squares = m->kind->means_with_squares;
  const double N = all_points(m);
  const int F = m->features, K = m->classes;
  const double per_point = squares ? 2.0 * F : F;
  const int parts = parts_for(m, per_point);
  const int wanted = units_wanted(m, parts, per_point);
  const std::vector<class_features> units = class_units(m, wanted, false);
  const std::size_t values = static_cast<std::size_t>(K) * F;
  std::vector<double> kept(squares ? 2 * values : values);
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) {
      const std::size_t at = static_cast<std::size_t>(k - 1) * F + (j - 1);
      kept[at] = m->class_means[k][j], m->class_means[k][j] = 0.0;
      if (squares) kept[values + at] = m->class_variances.diagonal[k][j], m->class_variances.diagonal[k][j] = 0.0;
    }
  std::vector<double> weights(K + 1, 0.0);
  auto add = [&](int, const class_group &g, int first, int last) {
    add_group_sums(m, g, first, last, weights.data(), m->class_means.get(),
                   squares ? m->class_variances.diagonal.get() : nullptr);
  };
  if (m->early.taken) {
    // The E-step of a process alone took these sums over its first rows (em_types.h,
    // early_mean_sums); the rows after them are added on, each sum still in row order.
    early_mean_sums &e = m->early;
    for (int k = 1; k <= K; k++)
      for (int j = 1; j <= F; j++) {
        m->class_means[k][j] = e.means[k][j];
        if (squares) m->class_variances.diagonal[k][j] = e.squares[k][j];
      }
    weights = e.weights;
    e.taken = false;
    if (e.rows < m->datapoints)
      over_units(m, class_groups(units, wanted), parts, rows_for(F), no_block, add, e.rows + 1);
  } else {
    over_units_of_all(m, class_groups(units, wanted), parts, per_point, rows_for(F), no_block, add,
                      [&](const class_group &g, std::vector<sum_span> &spans) {
                        group_sums(m, g, squares, weights.data(), spans);
                      });
  }
  double delta = 0.0;
  for (int k = 1; k <= K; k++) {
    const double weight = weights[k] / N;
    delta += std::fabs(weight - m->P_j[k]);
    m->P_j[k] = weight;
    if (!weighted(m, k)) {
      for (int j = 1; j <= F; j++) {
        const std::size_t at = static_cast<std::size_t>(k - 1) * F + (j - 1);
        m->class_means[k][j] = kept[at];
        if (squares) m->class_variances.diagonal[k][j] = kept[values + at];
      }
      continue;
    }
    const double inv = 1.0 / (m->P_j[k] * N);
    for (int j = 1; j <= F; j++) m->class_means[k][j] *= inv;
  }
  return delta;
}

}  // namespace

void start_early_mean_sums(em_memory *m) {
  early_mean_sums &e = m->early;
  e.means = one_based_matrix(m->classes, m->features);
  if (m->kind->means_with_squares) e.squares = one_based_matrix(m->classes, m->features);
  e.weights.assign(static_cast<std::size_t>(m->classes) + 1, 0.0);
}

void add_early_mean_sums(em_memory *m, int first, int last) {
  const int K = m->classes;
  early_mean_sums &e = m->early;
  class_group g{{1, 1, m->features}, {}, 0};
  for (int c = 1; c <= K; c += MEAN_CLASSES) {
    g.u.k = c;
    for (g.classes = 0; g.classes < MEAN_CLASSES && c + g.classes <= K; g.classes++) g.k[g.classes] = c + g.classes;
    add_group_sums(m, g, first, last, e.weights.data(), e.means.get(),
                   m->kind->means_with_squares ? e.squares.get() : nullptr);
  }
}

// Classes k .. k + classes - 1 whose sums of squared distances are taken side by side.
struct class_run {
  int k, classes;
};

void update_variances_scalar(em_memory *m) {
  const double lowest = m->params->variance_floor;
  const int N = m->datapoints, F = m->features, K = m->classes;
  // The count of summed squares, exact as a double; an int product would wrap past 2^31.
  const double values = static_cast<double>(m->share.total * F);
  const int parts = em_parts_for(static_cast<double>(N) * K * F, m->threads, K);
  auto weighted = [&](int k) { return values * m->P_j[k] != 0.0; };
  int classes_weighted = 0;
  for (int k = 1; k <= K; k++) classes_weighted += weighted(k);
  // Runs of consecutive weighted classes, a class a lane of the kernels' vectors, no longer
  // than still leaves every part a run.
  const int lanes = m->kernels->lanes;
  int longest = classes_weighted / parts;
  if (longest > lanes) longest = lanes;
  if (longest < 1) longest = 1;
  std::vector<class_run> units;
  for (int k = 1; k <= K; k++) {
    if (!weighted(k)) continue;
    if (!units.empty() && units.back().k + units.back().classes == k && units.back().classes < longest)
      units.back().classes++;
    else
      units.push_back({k, 1});
  }
  std::vector<double> sums(K + 1, 0.0);
  const long per_part = static_cast<long>(F) * lanes;
  kernel_buffer means(parts * per_part);
  over_units_of_all(
      m, units, parts, F, rows_for(F), no_block,
      [&](int part, const class_run &u, int first, int last) {
        m->kernels->add_squared_distances(m, u.k, u.classes, first, last, means.get() + part * per_part, &sums[u.k]);
      },
      [&](const class_run &u, std::vector<sum_span> &spans) {
        spans.push_back({&sums[u.k], static_cast<std::size_t>(u.classes)});
      });
  for (const class_run &u : units)
    for (int k = u.k; k < u.k + u.classes; k++) {
      double variance = sums[k] / (values * m->P_j[k]);
      hold_at_floor(variance, lowest, m->at_floor);
      m->class_variances.scalar[k] = variance;
    }
}

namespace {

// Each weighted class's scatter around its new mean, sum over the points of w d d^T (upper
// triangle), into one F x width matrix per class (width: F rounded up to the kernels' lanes):
// class k's row r, column s at [(k - 1) F width + (r - 1) width + (s - 1)] of `sums` (K F width
// values, the caller's). The rows of every process are added in ascending order; classes of
// weight 0 keep sums of 0.
void class_scatters(em_memory *m, int width, const kernel_buffer &sums) {
  const int F = m->features, K = m->classes;
  const int parts = parts_for(m, 0.5 * F * F);
  const std::vector<class_features> units = class_units(m, units_wanted(m, parts, 0.5 * F * F), true);
  // Each part's differences and weighted differences of a run of points, the padding columns of
  // the differences staying 0, with a page (4 KiB) between one part's and the next: packed end
  // to end, two parts wrote into the page where theirs met, and two threads ran the scatter a
  // quarter slower (100k x 64, K = 8: 60 against 44 ms; likely each core's prefetch of the
  // lines ahead pulling in the other's).
  const int rows = rows_for(F);
  const long per_part = static_cast<long>(product_run(width, F)) * (width + F) + 4096 / sizeof(double);
  kernel_buffer work(parts * per_part);
  for (long e = 0; e < static_cast<long>(K) * F * width; e++) sums.get()[e] = 0.0;
  for (long e = 0; e < parts * per_part; e++) work.get()[e] = 0.0;
  over_units_of_all(
      m, units, parts, 0.5 * F * F, rows, no_block,
      [&](int part, const class_features &u, int first, int last) {
        m->kernels->add_products(m, u, first, last, sums.get() + static_cast<long>(u.k - 1) * F * width, width,
                                 work.get() + part * per_part);
      },
      [&](const class_features &u, std::vector<sum_span> &spans) {  // the unit's rows of the class's sums
        spans.push_back({sums.get() + static_cast<long>(u.k - 1) * F * width + static_cast<long>(u.first - 1) * width,
                         static_cast<std::size_t>(u.last - u.first + 1) * width});
      });
}

int scatter_width(const em_memory *m) {
  const int lanes = m->kernels->lanes;
  return (m->features + lanes - 1) / lanes * lanes;
}

}  // namespace

void covariances_from_scatters(em_memory *m, const double *scatters, int width) {
  const double lowest = m->params->variance_floor;
  const double N = all_points(m);
  const int F = m->features, K = m->classes;
  for (int k = 1; k <= K; k++) {
    const double effective_weight = m->P_j[k] * N;
    if (effective_weight == 0.0) continue;
    const double inv = 1.0 / effective_weight;
    double **V = m->class_variances.full[k];
    const double *class_sums = scatters + static_cast<long>(k - 1) * F * width;
    for (int r = 1; r <= F; r++)
      for (int s = r; s <= F; s++) V[r][s] = class_sums[static_cast<long>(r - 1) * width + (s - 1)] * inv;
    for (int r = 1; r <= F; r++) hold_at_floor(V[r][r], lowest, m->at_floor);
    for (int r = 1; r <= F; r++)
      for (int s = r + 1; s <= F; s++) V[s][r] = V[r][s];
  }
}

void shared_covariance_from_scatters(em_memory *m, const double *scatters, int width) {
  const double lowest = m->params->variance_floor, added = m->params->reg_covar;
  const double N = all_points(m);
  const int F = m->features, K = m->classes;
  double **V = m->class_variances.full[1];
  for (int r = 1; r <= F; r++)
    for (int s = r; s <= F; s++) {
      const long at = static_cast<long>(r - 1) * width + (s - 1);
      double pooled = 0.0;
      for (int k = 1; k <= K; k++) pooled += scatters[static_cast<long>(k - 1) * F * width + at];
      V[r][s] = pooled / N;
    }
  for (int r = 1; r <= F; r++) {
    hold_at_floor(V[r][r], lowest, m->at_floor);
    V[r][r] += added;
  }
  for (int r = 1; r <= F; r++)
    for (int s = r + 1; s <= F; s++) V[s][r] = V[r][s];
}

void finish_diagonal_variances(em_memory *m) {
  const double lowest = m->params->variance_floor;
  const double N = all_points(m);
  const int F = m->features;
  for (int k = 1; k <= m->classes; k++) {
    if (!weighted(m, k)) continue;
    const double inv = 1.0 / (m->P_j[k] * N);
    const double *mean = m->class_means[k];
    double *variance = m->class_variances.diagonal[k];
    for (int j = 1; j <= F; j++) {
      variance[j] = variance[j] * inv - mean[j] * mean[j];
      hold_at_floor(variance[j], lowest, m->at_floor);
    }
  }
}

void update_variances_full(em_memory *m) {
  const int width = scatter_width(m);
  const kernel_buffer sums(static_cast<long>(m->classes) * m->features * width);
  class_scatters(m, width, sums);
  covariances_from_scatters(m, sums.get(), width);
}

void update_variances_tied(em_memory *m) {
  const int width = scatter_width(m);
  const kernel_buffer sums(static_cast<long>(m->classes) * m->features * width);
  class_scatters(m, width, sums);
  shared_covariance_from_scatters(m, sums.get(), width);
}

namespace {

// The weights and means, the means rescaled, then the covariances around them.
double means_then_covariances(em_memory *m, void (*update_variances)(em_memory *)) {
  const double delta = weights_and_mean_sums(m);
  rescale_means_if_needed(m);
  update_variances(m);
  return delta;
}

}  // namespace

double m_step_scalar(em_memory *m) { return means_then_covariances(m, update_variances_scalar); }

double m_step_diag(em_memory *m) {
  const double delta = weights_and_mean_sums(m);
  finish_diagonal_variances(m);
  rescale_means_if_needed(m);
  return delta;
}

double m_step_full(em_memory *m) { return means_then_covariances(m, update_variances_full); }

double m_step_tied(em_memory *m) { return means_then_covariances(m, update_variances_tied); }

}  // namespace mogem::detail
