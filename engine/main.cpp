// mogem <input_file> <output_file>: fits a mixture of Gaussians to the rows of the data matrix
// in input_file and writes each row's most probable class to output_file.
#include "engine/em_fe_program.h"

int main(int argc, char **argv) { return run_program(argc, argv); }
