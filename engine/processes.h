// The fit over several processes (mogem::process_group): which rows this process holds, sums
// over rows continued from process to process in rank order, choices over rows, and failures
// shared by all. With one process every routine is the plain single-process step.
#ifndef MOGEM_ENGINE_PROCESSES_H
#define MOGEM_ENGINE_PROCESSES_H

#include <cstddef>
#include <functional>
#include <vector>

#include "mogem/mogem.h"
#include "mogem/processes.h"

namespace mogem::detail {

// This process's rows among all: local row i (1-based) is row first + i - 1 (0-based) of all.
struct row_share {
  const process_group *group = nullptr;  // null: one process holds every row
  long long first = 0;
  long long total = 0;                   // rows of all processes
  std::vector<long long> starts;         // first row of every process, then total (size + 1)
  bool alone() const { return !group || group->size <= 1; }
  int rank() const { return alone() ? 0 : group->rank; }
  int size() const { return alone() ? 1 : group->size; }
};

// The share of a process holding `rows` rows in `group` (null: all of them); collective: every
// process learns where the others' rows start.
row_share share_of(const process_group *group, long long rows);

// Values of an accumulator handed from process to process.
struct sum_span {
  double *values;
  std::size_t n;
};

// A sum over rows in `stages` stages: compute(s) adds this process's rows into the
// accumulators spans(s) names. Over several processes, process r first receives stage s's
// accumulators from r - 1 and sends them on to r + 1 after compute(s), so that every
// accumulator takes the rows of all processes in ascending order while the stages overlap;
// at the end the last process sends the finished accumulators of every stage to all.
// Alone, compute(s) runs for each stage and nothing else happens.
void sum_over_processes(const row_share &share, int stages, const std::function<std::vector<sum_span>(int)> &spans,
                        const std::function<void(int)> &compute);

// The stages worth cutting `units` accumulating units into, for sums that cost `work` units of
// arithmetic per row and read `values` values of each row once per stage (0: each stage reads
// only its own units' values). 1 alone. Over P processes a sum of S stages takes S + P - 1
// stage times, and every stage beyond the first reads the rows again: S is near
// sqrt((P - 1) x work / (8 x values)), the balance of the two (a value read from memory
// costing about 8 operations), at least 1 and at most units.
int stages_for(const row_share &share, int units, double work = 0.0, double values = 0.0);

// values[0..n) of every process, in rank order (size() x n), on every process.
std::vector<double> gather_from_all(const row_share &share, const double *values, std::size_t n);

// The mean of every column over the rows of all processes into mean[1..F]: the first row's
// values, then the others added in row order (as normalizations/norm_data.h's column_means),
// divided by the rows of all processes. A NaN (a missing value) is left out of its column's sum
// and count, so a column with holes gets the mean of its observed values, and a column with
// none NaN. data holds this process's N rows, 1-based.
void column_means_over_processes(const row_share &share, double *const *data, int N, int F, double *mean);

// Copies row `row` (0-based, over all rows) of the data into out[1..F] on every process: the
// process holding it sends it to all.
void share_row(const row_share &share, long long row, double *const *data, int F, double *out);

// The error every process of a group throws at once (together): the failure one of them met.
class shared_failure : public error {
 public:
  using error::error;
  explicit shared_failure(const error &failure) : error(failure) {}
};

// An error as bytes to hand to other processes, and back: its kind, whether it has its own
// heading, its message, the setting it concerns and its parameter-file wording.
std::string error_as_bytes(const error &failure);
error error_from_bytes(const std::string &bytes);

// Runs body on every process; when it throws mogem::error (or std::bad_alloc, taken as a
// numerical_failure) on any, every process throws the error of the lowest-ranked process that
// failed (its kind and message) as a shared_failure; a shared_failure from within passes
// unchanged, as it is every process's already. Through the group's agree when it has one, so
// that a process that fails while others wait for it ends their wait. Alone, body runs, what
// it throws passes unchanged and std::bad_alloc becomes that numerical_failure. Collective.
void together(const row_share &share, const std::function<void()> &body);

}  // namespace mogem::detail

#endif
