#include "io/parameter_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/kernels/parallel.h"
#include "engine/run.h"
#include "io/data_rows.h"
#include "io/data_share.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// The data section after the parameter section of `file`, into the sink the callbacks ask for.
void read_data(const char *filename, FILE *fp, const reader_callbacks &hooks, const process_group *group,
               parameter_file &file) {
  const data_reading r{filename, fp, data_section_of(fp), file.rows, file.cols, threads_for(hooks.threads),
                       hooks.checkpoint, file.settings.missing == missing_values::em};
  matrix_values(file.rows, file.cols);  // sizes beyond the address space fail before anything else
  if (hooks.stream_rows && hooks.on_rows && hooks.stream_rows(file))
    read_row_blocks(r, ROWS_PER_BLOCK, hooks.on_rows);
  else if (group && group->size > 1)
    file.data = read_matrix_share(r, *group, &file.first_row);
  else
    file.data = read_whole_matrix(r);
}

}  // namespace

parameter_file read_parameters(const char *filename, const reader_callbacks &hooks, const process_group *group) {
  FILE *fp = open_file(filename, "r", filename);
  parameter_file file;
  try {
    file = read_parameter_section(fp, filename, hooks.warning);
    if (hooks.on_parameters) hooks.on_parameters(file);
    read_data(filename, fp, hooks, group, file);
  } catch (...) {
    std::fclose(fp);
    throw;
  }
  if (std::fclose(fp) != 0) {
    const int error = errno;
    char message[700];
    std::snprintf(message, sizeof message, "Could not close %s, errno is %i (%s)\n", filename, error,
                  std::strerror(error));
    (assert)(0, message);
  }
  return file;
}

}  // namespace mogem::detail

namespace mogem {

parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks) {
  return detail::read_parameters(path.c_str(), hooks);
}

parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks,
                                   const process_group &group) {
  return detail::read_parameters(path.c_str(), hooks, &group);
}

parameter_file read_parameter_file(const std::string &path, const std::function<void(const std::string &)> &warn) {
  reader_callbacks hooks;
  hooks.warning = warn;
  return read_parameter_file(path, hooks);
}

}  // namespace mogem
