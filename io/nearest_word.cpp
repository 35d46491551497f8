#include "io/nearest_word.h"

#include <algorithm>

namespace mogem::detail {

std::string did_you_mean(const std::string &written, const std::vector<std::string> &candidates) {
  std::string best;
  std::size_t best_distance = std::string::npos;
  for (const std::string &c : candidates) {
    if (!written.empty() && c.compare(0, written.size(), written) == 0) return "; did you mean " + c + "?";  // a prefix
    const std::size_t d = edit_distance(written, c);
    if (d < best_distance) best_distance = d, best = c;
  }
  const std::size_t limit = std::max<std::size_t>(2, std::max(written.size(), best.size()) / 3);
  return best_distance <= limit ? "; did you mean " + best + "?" : "";
}

std::size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); j++) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); i++) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); j++) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace mogem::detail
