#include "engine/processes.h"

#include <cmath>
#include <memory>
#include <new>
#include <sstream>
#include <string>

namespace mogem::detail {

row_share share_of(const process_group *group, long long rows) {
  row_share share;
  share.group = group;
  if (share.alone()) {
    share.total = rows;
    share.starts = {0, rows};
    return share;
  }
  // As a shared step, so that a failure another process meets meanwhile ends it.
  std::vector<double> counts;
  together(share, [&] {
    const double mine = static_cast<double>(rows);  // exact: rows are far below 2^53
    counts = gather_from_all(share, &mine, 1);
  });
  share.starts.assign(counts.size() + 1, 0);
  for (std::size_t r = 0; r < counts.size(); r++)
    share.starts[r + 1] = share.starts[r] + static_cast<long long>(counts[r]);
  share.first = share.starts[group->rank];
  share.total = share.starts.back();
  return share;
}

namespace {

std::vector<double> packed(const std::vector<sum_span> &spans) {
  std::vector<double> values;
  for (const sum_span &s : spans) values.insert(values.end(), s.values, s.values + s.n);
  return values;
}

void unpack(const std::vector<double> &values, const std::vector<sum_span> &spans) {
  std::size_t at = 0;
  for (const sum_span &s : spans)
    for (std::size_t e = 0; e < s.n; e++) s.values[e] = values[at++];
}

}  // namespace

void sum_over_processes(const row_share &share, int stages, const std::function<std::vector<sum_span>(int)> &spans,
                        const std::function<void(int)> &compute) {
  if (share.alone()) {
    for (int s = 0; s < stages; s++) compute(s);
    return;
  }
  const process_group &g = *share.group;
  std::vector<sum_span> all;
  for (int s = 0; s < stages; s++) {
    const std::vector<sum_span> these = spans(s);
    std::vector<double> values = packed(these);
    if (g.rank > 0) {
      g.receive(values.data(), values.size(), g.rank - 1);
      unpack(values, these);
    }
    compute(s);
    if (g.rank + 1 < g.size) {
      values = packed(these);
      g.send(values.data(), values.size(), g.rank + 1);
    }
    all.insert(all.end(), these.begin(), these.end());
  }
  std::vector<double> finished = packed(all);
  g.broadcast(finished.data(), finished.size(), g.size - 1);
  unpack(finished, all);
}

int stages_for(const row_share &share, int units, double work, double values) {
  if (share.alone() || units <= 1) return 1;
  if (values <= 0.0) return units;
  const double best = std::sqrt((share.size() - 1) * work / (8.0 * values));
  const int stages = best < 1.0 ? 1 : static_cast<int>(best + 0.5);
  return stages < units ? stages : units;
}

std::vector<double> gather_from_all(const row_share &share, const double *values, std::size_t n) {
  if (share.alone()) return std::vector<double>(values, values + n);
  std::vector<double> all(static_cast<std::size_t>(share.group->size) * n);
  share.group->gather(values, n, all.data());
  return all;
}

void column_means_over_processes(const row_share &share, double *const *data, int N, int F, double *mean) {
  std::vector<double> observed(static_cast<std::size_t>(F), 0.0);
  for (int j = 1; j <= F; j++) mean[j] = 0.0;
  sum_over_processes(
      share, 1,
      [&](int) {
        return std::vector<sum_span>{{mean + 1, static_cast<std::size_t>(F)},
                                     {observed.data(), static_cast<std::size_t>(F)}};
      },
      [&](int) {
        int from = 1;
        if (share.first == 0 && N > 0) {
          for (int j = 1; j <= F; j++)
            if (!std::isnan(data[1][j])) mean[j] = data[1][j], observed[j - 1] = 1.0;
          from = 2;
        }
        for (int i = from; i <= N; i++)
          for (int j = 1; j <= F; j++) {
            const double x = data[i][j];
            if (std::isnan(x)) continue;
            mean[j] += x;
            observed[j - 1] += 1.0;
          }
      });
  for (int j = 1; j <= F; j++) mean[j] /= observed[j - 1];
}

void share_row(const row_share &share, long long row, double *const *data, int F, double *out) {
  if (share.alone()) {
    for (int j = 1; j <= F; j++) out[j] = data[row + 1][j];
    return;
  }
  int owner = 0;
  while (share.starts[owner + 1] <= row) owner++;
  if (owner == share.group->rank)
    for (int j = 1; j <= F; j++) out[j] = data[row - share.first + 1][j];
  share.group->broadcast(out + 1, static_cast<std::size_t>(F), owner);
}

std::string error_as_bytes(const error &failure) {
  const int code = static_cast<int>(failure.what_kind()) * 2 + (failure.has_own_heading() ? 1 : 0);
  return std::string(1, static_cast<char>(code)) + failure.what() + '\0' + failure.setting() + '\0' +
         (failure.in_file_terms() == failure.what() ? std::string() : failure.in_file_terms());
}

error error_from_bytes(const std::string &bytes) {
  const int code = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]);
  std::istringstream parts(bytes.empty() ? bytes : bytes.substr(1));
  std::string message, setting, in_file_terms;
  std::getline(parts, message, '\0');
  std::getline(parts, setting, '\0');
  std::getline(parts, in_file_terms, '\0');
  error failure(static_cast<error::kind>(code / 2), message);
  failure.about(setting, in_file_terms);
  if (code % 2) failure.with_own_heading();
  return failure;
}

namespace {

// A working allocation refused inside a step: the same failure alone and over several processes.
error out_of_memory() {
  return error(error::kind::numerical_failure,
               "allocation failure: not enough memory for the fit's working values; use fewer rows, features or "
               "classes")
      .with_own_heading();
}

// The end of a step through gather and broadcast_text, for groups without agree.
std::shared_ptr<const error> agreed_by_gather(const row_share &share, const error *failure) {
  const double failed = failure ? 1.0 : 0.0;
  const std::vector<double> all = gather_from_all(share, &failed, 1);
  for (int r = 0; r < share.group->size; r++) {
    if (all[r] == 0.0) continue;
    std::string bytes = failure ? error_as_bytes(*failure) : "";
    share.group->broadcast_text(bytes, r);
    return std::make_shared<error>(error_from_bytes(bytes));
  }
  return nullptr;
}

}  // namespace

void together(const row_share &share, const std::function<void()> &body) {
  std::shared_ptr<const error> failure;
  try {
    body();
  } catch (const shared_failure &) {
    throw;
  } catch (const error &e) {
    if (share.alone()) throw;
    failure = std::make_shared<error>(e);
  } catch (const std::bad_alloc &) {
    if (share.alone()) throw out_of_memory();
    failure = std::make_shared<error>(out_of_memory());
  }
  if (share.alone()) return;
  const process_group &g = *share.group;
  const std::shared_ptr<const error> first = g.agree ? g.agree(failure.get()) : agreed_by_gather(share, failure.get());
  if (first) throw shared_failure(*first);
}

}  // namespace mogem::detail
