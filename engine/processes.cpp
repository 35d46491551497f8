#include "engine/processes.h"

#include <cmath>
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
  const double mine = static_cast<double>(rows);  // exact: rows are far below 2^53
  const std::vector<double> counts = gather_from_all(share, &mine, 1);
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

void together(const row_share &share, const std::function<void()> &body) {
  if (share.alone()) {
    body();
    return;
  }
  double failed = 0.0;
  error::kind kind = error::kind::invalid_input;
  std::string message, setting, in_file;
  bool own_heading = false;
  try {
    body();
  } catch (const error &e) {
    failed = 1.0;
    kind = e.what_kind();
    message = e.what();
    setting = e.setting();
    in_file = e.in_file_terms();
    own_heading = e.has_own_heading();
  }
  const std::vector<double> all = gather_from_all(share, &failed, 1);
  for (int r = 0; r < share.group->size; r++) {
    if (all[r] == 0.0) continue;
    // The kind, and whether the message has its own heading, travel as one number.
    double code = static_cast<double>(static_cast<int>(kind) * 2 + (own_heading ? 1 : 0));
    share.group->broadcast(&code, 1, r);
    for (std::string *text : {&message, &setting, &in_file}) share.group->broadcast_text(*text, r);
    const int received = static_cast<int>(code);
    shared_failure failure(static_cast<error::kind>(received / 2), message);
    failure.about(setting, in_file);
    if (received % 2) failure.with_own_heading();
    throw failure;
  }
}

}  // namespace mogem::detail
