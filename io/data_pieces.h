// The data section of a parameter file read in pieces, on several threads at once (and, in a
// run over several processes, one share of the file per process).
//
// A span of bytes is cut only just after a white-space character, so that no number and no
// token reaches across a cut and every piece starts where a reader of the whole span would be
// after skipping white space. Each piece is read with the rules of number_stream
// (io/number_stream.h), and the numbers of the pieces, taken in order, are exactly the numbers
// one number_stream reads from the whole span, up to the same first failure.
#ifndef MOGEM_IO_DATA_PIECES_H
#define MOGEM_IO_DATA_PIECES_H

#include <cstddef>
#include <functional>
#include <vector>

#include "io/number_stream.h"

namespace mogem::detail {

// The first offset at or after `at` within [begin, end] whose preceding byte is white space,
// or end; begin when at <= begin. fd is an open file; a byte that cannot be read counts as no
// white space.
long long cut_after_white_space(int fd, long long begin, long long end, long long at);

// The bytes [begin, end) of fd cut into `parts` (at least 1) pieces of about equal length:
// parts + 1 ascending offsets, the first begin, the last end. Pieces may be empty.
std::vector<long long> cut_into_parts(int fd, long long begin, long long end, int parts);

// How a reading of a span ended.
struct span_reading {
  std::size_t count;    // numbers taken
  number_status stop;   // NUMBER_READ: max_values were taken; NUMBER_MISSING: the span ran out
                        // (the end of the file, when the span ends there); NUMBER_NOT_A_NUMBER:
                        // the number after the `count` taken is not a number
};

// Reads the numbers of bytes [begin, end) of the file `path` (already checked to be a regular
// file), at most max_values of them, handing them on in order: take(values, n) is called with
// consecutive runs of numbers, always on one thread at a time. The span is cut into pieces of
// about piece_bytes, which at most `threads` threads read in turn; the calling thread calls
// checkpoint between its pieces. A file that cannot be opened again is refused as open_file
// refuses it (engine/run.h); what take or checkpoint throw ends the reading and is rethrown.
span_reading read_span(const char *path, long long begin, long long end, std::size_t max_values, int threads,
                       const std::function<void(const double *values, std::size_t n)> &take,
                       const std::function<void()> &checkpoint = {}, long long piece_bytes = 4 << 20);

}  // namespace mogem::detail

#endif
