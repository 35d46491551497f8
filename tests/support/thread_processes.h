// Processes as threads of one process (mogem::process_group), for the tests of a fit or a
// reading over several processes: messages go through mailboxes in memory. And data to share.
#ifndef MOGEM_TESTS_SUPPORT_THREAD_PROCESSES_H
#define MOGEM_TESTS_SUPPORT_THREAD_PROCESSES_H

#include <functional>
#include <random>
#include <vector>

#include "mogem/mogem.h"
#include "mogem/processes.h"

// Runs body(group) on `size` threads at once, each with the group of its rank, and returns
// when all have returned. body must not throw.
void run_as_processes(int size, const std::function<void(const mogem::process_group &group)> &body);

// Runs call(values of the share, rows of the share, hooks) on processes holding the rows of
// `values` from each of `starts` (ascending, from 0) to the next, one thread each; the results
// in rank order.
template <typename Call>
auto over_shares(const std::vector<double> &values, std::size_t cols, const std::vector<std::size_t> &starts,
                 Call call) {
  const int size = static_cast<int>(starts.size());
  const std::size_t rows = values.size() / cols;
  std::vector<decltype(call(nullptr, 0, mogem::callbacks{}))> out(size);
  run_as_processes(size, [&](const mogem::process_group &group) {
    const std::size_t first = starts[group.rank], last = group.rank + 1 < size ? starts[group.rank + 1] : rows;
    mogem::callbacks hooks;
    hooks.processes = &group;
    out[group.rank] = call(values.data() + first * cols, last - first, hooks);
  });
  return out;
}

// rows x cols values in four overlapping groups: normal deviates (the seed's) about means
// `apart` apart from group to group, rising in odd features and falling at half the pace in
// even ones.
inline std::vector<double> four_groups(std::size_t rows, std::size_t cols, unsigned seed, double apart) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> values;
  for (std::size_t i = 0; i < rows; i++)
    for (std::size_t j = 0; j < cols; j++) values.push_back(normal(rng) + apart * (i % 4) * (j % 2 ? 1.0 : -0.5));
  return values;
}

#endif
