// The nearest of some words to what a user wrote, for the "did you mean" of a refusal: the
// command line's flags and keyword values, the data's column names.
#ifndef MOGEM_IO_NEAREST_WORD_H
#define MOGEM_IO_NEAREST_WORD_H

#include <cstddef>
#include <string>
#include <vector>

namespace mogem::detail {

// "; did you mean X?" for the candidate X nearest to `written`: the first one `written` begins,
// else the one fewest edits away, when it is near (at most a third of the longer text apart, or
// 2 edits); "" when none is.
std::string did_you_mean(const std::string &written, const std::vector<std::string> &candidates);

// The Levenshtein distance of two texts.
std::size_t edit_distance(const std::string &a, const std::string &b);

}  // namespace mogem::detail

#endif
