// mogem fit | select | predict: the commands on CSV and NumPy files (cli/command_run.h).
// mogem <input_file> <output_file>: fits a mixture of Gaussians to the rows of the data matrix
// in input_file and writes each row's most probable class to output_file; it runs whenever the
// first argument names an existing file.
// Under mpirun (a build with MOGEM_MPI) the processes run one fit together (cli/processes.h).
#include "cli/command_run.h"
#include "cli/help.h"
#include "cli/processes.h"
#include "cli/program.h"
#include "mogem/files.h"

#include <cstdio>

int main(int argc, char **argv) {
  using namespace mogem::detail;
  if (handle_info_option(argc, argv)) return 0;
  const mogem::process_group *group = nullptr;
  try {
    group = start_processes(&argc, &argv);
  } catch (const mogem::error &failure) {
    print_failure(stderr, failure);
    return exit_code_of(failure);
  }
  int code;
  if (!names_a_command(argc, argv)) {
    code = run_program(argc, argv, group);
  } else if (group && group->size > 1) {  // each process would fit and print alone
    if (group->rank == 0)
      std::fprintf(stderr, "mogem %s runs as one process for now; under mpirun give a parameter file: mpirun -np P "
                           "mogem <input_file> <output_file>\n", argv[1]);
    code = 2;
  } else {
    code = run_command(argc - 1, argv + 1);
  }
  end_processes();
  return code;
}
