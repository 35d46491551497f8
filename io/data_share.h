// One process's share of the data section in a run over several processes: the section is cut
// at white space into one byte range per process, each process reads its range in pieces on
// its threads, and the counts of all ranges tell every process the first failure of the whole
// section, the rows it holds (those whose first value lies in its range) and which values of
// its last row the next processes hold; those are sent to it.
#ifndef MOGEM_IO_DATA_SHARE_H
#define MOGEM_IO_DATA_SHARE_H

#include <cstddef>
#include <vector>

#include "io/data_rows.h"
#include "mogem/mogem.h"

namespace mogem::detail {

// This process's rows, row-major, from row *first_row (0-based) on. Every process refuses the
// input as one process reading the whole section would, naming the same row and column; a
// section that is not a regular file is refused. A failure one process meets alone (a file it
// cannot open, memory refused) is thrown on all of them.
std::vector<double> read_matrix_share(const data_reading &r, const process_group &group, std::size_t *first_row);

}  // namespace mogem::detail

#endif
