// consumer <input_file> <output_file>: one run through the installed engine, then the class
// count it fitted on standard output.
#include <cstdio>

#include "engine/run.h"
#include "engine/model_state.h"
#include "io/parameter_file.h"
#include "io/result_files.h"
#include "nr/nr_util.h"

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  try {
    em_memory *m = read_parameters(argv[1], argv[2]);
    run(m);
    report_results(m);
    std::printf("classes %d\n", m->classes);
    const int status = m->output_errors ? 1 : 0;
    deallocate_em_memory(m);
    release_em_records(m);
    return status;
  } catch (const run_exit &e) {
    return e.code;
  }
}
