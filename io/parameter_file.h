// The parameter file and its data matrix, read in two steps: the parameter section into the
// settings (io/parameter_section.h), then the data section by one row reader into the sink the
// caller asks for (io/data_rows.h, io/data_share.h). The public reader is
// mogem::read_parameter_file (mogem/mogem.h), which this implements.
#ifndef MOGEM_IO_PARAMETER_FILE_H
#define MOGEM_IO_PARAMETER_FILE_H

#include "io/parameter_section.h"

namespace mogem::detail {

// Rows handed to reader_callbacks::on_rows at a time when the rows are streamed.
constexpr int ROWS_PER_BLOCK = 4096;

// Reads the whole file: the settings, sizes and keys (data_name the file name) and the data,
// as read_parameter_file says; with a group of several processes, only this process's share of
// the rows (from first_row on). Refuses (refuse_input, naming the file and the problem) a file
// that cannot be opened or closed and what the two steps refuse; a matrix that cannot be held
// ends in NR_error. The callbacks may throw to stop the reading.
parameter_file read_parameters(const char *filename, const reader_callbacks &hooks,
                               const process_group *group = nullptr);

}  // namespace mogem::detail

#endif
