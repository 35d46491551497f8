// The random initializations. Each starts a 48-bit generator of its own from the seed, so its
// draws depend only on the seed it is given.
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/rand48.h"
#include "initializations/init_means.h"
#include "nr/nr_util.h"
#include "nr/one_based.h"

namespace mogem::detail {

namespace {

// An index 1..n drawn from the 48-bit generator.
int draw_index(rand48_stream &random, int n) { return static_cast<int>(random.next_integer() % n) + 1; }

void zero_means(double **means, int classes, int features) {
  for (int k = 1; k <= classes; k++)
    for (int j = 1; j <= features; j++) means[k][j] = 0.0;
}

// Where the entries at `positions` came from when swaps (a, b), drawn from `random` as
// draw_index gives them, ran over a list: `draws` swaps were made after the generator's
// current state, each drawing its partners with `pair` (one draw: the partner of the running
// index, two: both). The swaps are undone from the last, tracking only these positions; the
// result holds, for each, the position its entry started at.
std::vector<int> origins(rand48_stream random, long long draws, int n, bool pair, const std::vector<int> &positions) {
  for (long long d = 0; d < draws * (pair ? 2 : 1); d++) random.step();
  std::unordered_map<int, int> at;  // current position -> which of `positions`
  at.reserve(positions.size());
  for (std::size_t t = 0; t < positions.size(); t++) at[positions[t]] = static_cast<int>(t);
  auto swap_entries = [&](int a, int b) {
    if (a == b) return;
    auto ia = at.find(a), ib = at.find(b);
    const int ta = ia == at.end() ? -1 : ia->second, tb = ib == at.end() ? -1 : ib->second;
    if (ta >= 0) at.erase(ia);
    if (tb >= 0) at.erase(at.find(b));
    if (ta >= 0) at[b] = ta;
    if (tb >= 0) at[a] = tb;
  };
  for (long long s = draws; s >= 1; s--) {
    const int b = static_cast<int>(random.last_integer() % n) + 1;
    random.step_back();
    int a = static_cast<int>(s);
    if (pair) {
      a = static_cast<int>(random.last_integer() % n) + 1;
      random.step_back();
    }
    swap_entries(a, b);
  }
  std::vector<int> from(positions.size());
  for (const auto &entry : at) from[entry.second] = entry.first;
  return from;
}

// random_means over several processes: the classes of this process's rows from the replayed
// swaps, then the class sums continued in row order.
void random_means_of_all(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                         const row_share &share) {
  const int N = static_cast<int>(share.total), K = classes, F = features;
  std::vector<int> mine(static_cast<std::size_t>(datapoints));
  for (int i = 1; i <= datapoints; i++) mine[i - 1] = static_cast<int>(share.first + i);
  const std::vector<int> from = origins(rand48_stream(seed), N, N, true, mine);
  zero_means(means, K, F);
  sum_over_processes(
      share, 1,
      [&](int) {
        std::vector<sum_span> spans;
        for (int k = 1; k <= K; k++) spans.push_back({means[k] + 1, static_cast<std::size_t>(F)});
        return spans;
      },
      [&](int) {
        for (int i = 1; i <= datapoints; i++) {
          double *mean = means[(from[i - 1] - 1) % K + 1];  // the round-robin class it started with
          for (int j = 1; j <= F; j++) mean[j] += data[i][j];
        }
      });
  for (int k = 1; k <= K; k++) {
    const double count = N / K + (k <= N % K ? 1 : 0);  // round robin; the swaps keep the counts
    for (int j = 1; j <= F; j++) means[k][j] /= count;
  }
}

}  // namespace

void init_classifications_random(random_means_data *d) {
  const int N = d->datapoints, K = d->classes;
  for (int i = 1; i <= N; i++) {
    d->classifications[i] = (i - 1) % K + 1;
    d->class_count_array[d->classifications[i]]++;
  }
  for (int s = 1; s <= N; s++) {
    int a = draw_index(*d->random, N);
    int b = draw_index(*d->random, N);
    std::swap(d->classifications[a], d->classifications[b]);
  }
}

void estimate_means(random_means_data *d) {
  const int N = d->datapoints, F = d->features, K = d->classes;
  zero_means(d->class_means, K, F);
  for (int i = 1; i <= N; i++) {
    double *mean = d->class_means[d->classifications[i]];
    for (int j = 1; j <= F; j++) mean[j] += d->data[i][j];
  }
  for (int k = 1; k <= K; k++) {
    double count = d->class_count_array[k];
    for (int j = 1; j <= F; j++) d->class_means[k][j] /= count;
  }
}

void random_means(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                  const row_share &share) {
  if (!share.alone()) return random_means_of_all(data, means, datapoints, features, classes, seed, share);
  rand48_stream random(seed);
  random_means_data d{data, means, datapoints, features, classes, nullptr, nullptr, &random};
  one_based_vector<int> classifications(datapoints, "allocation failure in random_means()");
  one_based_vector<int> counts(classes, "allocation failure in random_means()");
  d.classifications = classifications.get();
  d.class_count_array = counts.get();
  init_classifications_random(&d);
  estimate_means(&d);
}

void find_min_max(range_data *d, double *min, double *max) {
  for (int j = 1; j <= d->features; j++) min[j] = max[j] = d->data[1][j];
  for (int i = 2; i <= d->datapoints; i++) {
    for (int j = 1; j <= d->features; j++) {
      double v = d->data[i][j];
      if (v > max[j])
        max[j] = v;
      else if (v < min[j])
        min[j] = v;
    }
  }
}

void random_range(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                  const row_share &share) {
  range_data d{data, means, datapoints, features, classes};
  rand48_stream random(seed);
  one_based_vector<double> min(features), range(features);
  if (datapoints > 0) find_min_max(&d, min.get(), range.get());
  if (!share.alone()) {
    // Each process's extremes in rank order, with the scan's own comparisons: the first
    // process with rows starts them, a later one replaces only a strictly larger maximum or
    // smaller minimum, as the scan of all rows would.
    std::vector<double> mine(2 * static_cast<std::size_t>(features) + 1);
    mine[0] = datapoints > 0;
    for (int j = 1; j <= features; j++) mine[j] = min[j], mine[features + j] = range[j];
    const std::vector<double> all = gather_from_all(share, mine.data(), mine.size());
    bool started = false;
    for (int r = 0; r < share.size(); r++) {
      const double *theirs = &all[static_cast<std::size_t>(r) * mine.size()];
      if (theirs[0] == 0) continue;
      for (int j = 1; j <= features; j++) {
        if (!started || theirs[features + j] > range[j]) range[j] = theirs[features + j];
        if (!started || theirs[j] < min[j]) min[j] = theirs[j];
      }
      started = true;
    }
  }
  for (int j = 1; j <= features; j++) range[j] -= min[j];
  for (int k = 1; k <= classes; k++)
    for (int j = 1; j <= features; j++) means[k][j] = random.next_unit() * range[j] + min[j];
}

namespace {

// random_sample over several processes: the sampled positions of the shuffled list traced back
// to the rows they hold, each row then sent from its process, the sums taken in the same order.
void random_sample_of_all(double **data, double **class_means, int features, int classes, int32_t seed,
                          int samples, const row_share &share) {
  const int N = static_cast<int>(share.total), F = features, K = classes;
  const long long wanted = static_cast<long long>(K) * samples;
  const int M = wanted < N ? static_cast<int>(wanted) : N;
  std::vector<int> positions;  // the list positions the means average, each once
  std::vector<std::vector<int>> windows(K + 1);
  std::unordered_map<int, int> index_of;
  for (int k = 1; k <= K; k++) {
    const long long start = M < N ? static_cast<long long>(k - 1) * samples
                                  : static_cast<long long>(k - 1) * (N - samples) / K;
    for (long long s = start + 1; s <= start + samples; s++) {
      auto found = index_of.emplace(static_cast<int>(s), static_cast<int>(positions.size()));
      if (found.second) positions.push_back(static_cast<int>(s));
      windows[k].push_back(found.first->second);
    }
  }
  const std::vector<int> rows = origins(rand48_stream(seed), M, N, false, positions);
  zero_means(class_means, K, F);
  std::vector<double> point(static_cast<std::size_t>(F) + 1);
  for (int k = 1; k <= K; k++) {
    for (int t : windows[k]) {
      share_row(share, rows[t] - 1, data, F, point.data());
      for (int j = 1; j <= F; j++) class_means[k][j] += point[j];
    }
  }
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) class_means[k][j] /= static_cast<double>(samples);
}

}  // namespace

void random_sample(double **data, double **class_means, int datapoints, int features, int classes, int32_t seed,
                   int samples, const row_share &share) {
  const int N = share.alone() ? datapoints : static_cast<int>(share.total), F = features, K = classes;
  if (samples < 1) {
    // No point would go into any mean: every mean would be 0/0 or -0.0.
    refuse(
        "the random_sample initialization needs num_samples of at least 1 (it is %d); set "
        "num_samples in the parameter file",
        samples);
  }
  if (samples > N) samples = N;
  if (!share.alone()) return random_sample_of_all(data, class_means, F, K, seed, samples, share);
  rand48_stream random(seed);
  one_based_vector<int> order(N, "allocation failure in random_sample()");
  for (int i = 1; i <= N; i++) order[i] = i;
  // K * samples may pass the int range before it is capped at N.
  const long long wanted = static_cast<long long>(K) * samples;
  const int M = wanted < N ? static_cast<int>(wanted) : N;
  // The partner is drawn from the whole list, not only from the entries not yet placed.
  for (int i = 1; i <= M; i++) std::swap(order[i], order[draw_index(random, N)]);

  zero_means(class_means, K, F);
  for (int k = 1; k <= K; k++) {
    // Disjoint windows while the shuffled part suffices; otherwise windows spread over the
    // whole list, which may overlap.
    const long long start = M < N ? static_cast<long long>(k - 1) * samples
                                  : static_cast<long long>(k - 1) * (N - samples) / K;
    for (long long s = start + 1; s <= start + samples; s++) {
      const double *point = data[order[s]];
      for (int j = 1; j <= F; j++) class_means[k][j] += point[j];
    }
  }
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) class_means[k][j] /= static_cast<double>(samples);
}

void random_from_data(double **data, double **means, int datapoints, int features, int classes, int32_t seed,
                      const row_share &share) {
  const long long N = share.alone() ? datapoints : share.total;
  rand48_stream random(seed);
  std::unordered_set<long long> taken;
  for (int k = 1; k <= classes; k++) {
    long long row = 0;
    do {
      row = static_cast<long long>(random.next_unit() * static_cast<double>(N));
      if (row >= N) row = N - 1;
    } while (!taken.insert(row).second);
    share_row(share, row, data, features, means[k]);
  }
}

}  // namespace mogem::detail
