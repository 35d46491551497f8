#include "cli/program.h"

#include <cstdio>

#include "engine/run.h"
#include "cli/checks.h"
#include "engine/model_state.h"
#include "io/parameter_file.h"
#include "io/result_files.h"
#include "cli/progress.h"
#include "nr/nr_util.h"

namespace mogem::detail {

int run_program(int argc, char **argv) {
  if (argc <= 2) {
    std::fprintf(stderr, "Usage: %s <input_file> <output_file>\n", argc > 0 ? argv[0] : "mogem");
    return -1;
  }
  try {
    refuse_output_over_input(argv[1], argv[2]);
    em_memory *m = read_parameters(argv[1], argv[2]);
    int status;
    m->progress = progress_start_if_terminal();
    try {
      refuse_outputs_over_input(m);
      refuse_non_finite_data(m);
      run(m);
      progress_finish(m->progress);
      m->progress = nullptr;
      report_results(m);
      // A run whose results could not all be written is not a success.
      status = m->output_errors ? 1 : 0;
    } catch (const run_exit &) {
      progress_finish(m->progress);
      deallocate_em_memory(m);
      release_em_records(m);
      throw;
    }
    deallocate_em_memory(m);
    release_em_records(m);
    return status;
  } catch (const run_exit &e) {
    return e.code;
  }
}

}  // namespace mogem::detail
