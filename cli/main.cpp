// mogem <input_file> <output_file>: fits a mixture of Gaussians to the rows of the data matrix
// in input_file and writes each row's most probable class to output_file.
#include "cli/help.h"
#include "cli/program.h"

int main(int argc, char **argv) {
  if (mogem::detail::handle_info_option(argc, argv)) return 0;
  return mogem::detail::run_program(argc, argv);
}
