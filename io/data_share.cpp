#include "io/data_share.h"

#include <algorithm>

#include "engine/processes.h"
#include "engine/run.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// Where each process's numbers start among all (P + 1 offsets), up to the first failure of the
// section, which every process refuses alike. counts: each process's count and stop, as gathered.
std::vector<unsigned long long> starts_of(const data_reading &r, const std::vector<double> &counts,
                                          unsigned long long values) {
  const int P = static_cast<int>(counts.size() / 2);
  std::vector<unsigned long long> start(P + 1, 0);
  bool ended = false;
  for (int p = 0; p < P; p++) {
    const unsigned long long count = ended ? 0 : static_cast<unsigned long long>(counts[2 * p]);
    start[p + 1] = std::min(values, start[p] + count);
    const number_status stop = static_cast<number_status>(static_cast<int>(counts[2 * p + 1]));
    if (!ended && start[p + 1] < values && (stop == NUMBER_NOT_A_NUMBER || p == P - 1))
      refuse_value(r, start[p + 1], stop);
    ended = ended || stop == NUMBER_NOT_A_NUMBER || start[p + 1] == values;
  }
  return start;
}

// Reads this process's byte range into pieces as they come; every process learns every count.
std::vector<double> read_range(const data_reading &r, const process_group &group, unsigned long long values,
                               const row_share &processes, std::vector<std::vector<double>> &pieces) {
  std::vector<long long> cuts;
  {
    FILE *probe = open_file(r.filename, "r", r.filename);
    cuts = cut_into_parts(fileno(probe), r.section.begin, r.section.end, group.size);
    std::fclose(probe);
  }
  span_reading mine{0, NUMBER_MISSING};
  together(processes, [&] {
    mine = read_span(
        r.filename, cuts[group.rank], cuts[group.rank + 1], static_cast<std::size_t>(values), r.threads,
        [&](const double *got, std::size_t n) { pieces.emplace_back(got, got + n); }, r.checkpoint);
  });
  const double told[2] = {static_cast<double>(mine.count), static_cast<double>(mine.stop)};
  std::vector<double> all(2 * static_cast<std::size_t>(group.size));
  group.gather(told, 2, all.data());
  return all;
}

}  // namespace

std::vector<double> read_matrix_share(const data_reading &r, const process_group &group, std::size_t *first_row) {
  if (!r.section.regular)
    refuse_input("Error in parameter file %s: %s", r.filename,
                 "a run over several processes reads its data from a regular file only");
  const int P = group.size, me = group.rank;
  const unsigned long long D = r.cols, values = matrix_values(r.rows, r.cols);
  row_share processes;  // for failures one process meets (a file it cannot open, memory refused)
  processes.group = &group;
  std::vector<std::vector<double>> pieces;  // the range's numbers as they were read
  const std::vector<unsigned long long> start = starts_of(r, read_range(r, group, values, processes, pieces), values);
  // Process p holds the rows from first[p]: the first row starting in its range.
  std::vector<unsigned long long> first(P + 1);
  for (int p = 0; p <= P; p++) first[p] = (start[p] + D - 1) / D;
  const unsigned long long owned = (first[me + 1] - first[me]) * D;
  std::vector<double> data;
  together(processes, [&] { data = allocate_matrix(owned); });
  // This range's first values finish the row of an earlier process: they go to it.
  const unsigned long long lead = std::min(first[me] * D, start[me + 1]) - start[me];
  std::vector<double> leading;
  unsigned long long at = 0;
  double *next = data.data();
  for (std::vector<double> &piece : pieces) {
    for (double value : piece) {
      if (at < lead)
        leading.push_back(value);
      else if (at - lead < owned)
        *next++ = value;
      at++;
    }
    std::vector<double>().swap(piece);  // each piece goes as soon as it is copied
  }
  if (lead > 0) {
    int owner = me - 1;
    while (first[owner] == first[me]) owner--;
    group.send(leading.data(), leading.size(), owner);
  }
  // The rest of this process's last row, from the ranges after it.
  for (int p = me + 1; p < P && owned > 0 && first[p] == first[me + 1]; p++) {
    const unsigned long long theirs = std::min(first[p] * D, start[p + 1]) - start[p];
    if (theirs == 0) continue;
    group.receive(next, static_cast<std::size_t>(theirs), p);
    next += theirs;
  }
  *first_row = static_cast<std::size_t>(first[me]);
  return data;
}

}  // namespace mogem::detail
