// mogem <input_file> <output_file>: fits a mixture of Gaussians to the rows of the data matrix
// in input_file and writes each row's most probable class to output_file.
#include "engine/cli_help.h"
#include "engine/em_fe_program.h"

int main(int argc, char **argv) {
  if (handle_info_option(argc, argv)) return 0;
  return run_program(argc, argv);
}
