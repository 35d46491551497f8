// consumer <input_file> <output_file>: one run through the installed library's interface, then
// the class count it fitted on standard output.
#include <cstdio>

#include <mogem/mogem.h>

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  try {
    const mogem::parameter_file file = mogem::read_parameter_file(argv[1]);
    const mogem::matrix_view data{file.data.data(), file.rows, file.cols};
    const mogem::model fitted = mogem::fit(data, file.settings);
    const std::string out = argv[2];
    if (file.output_model) {
      mogem::write_means(mogem::result_file_name(out, ".means"), fitted);
      mogem::write_variances(mogem::result_file_name(out, ".variances"), fitted);
      mogem::write_weights(mogem::result_file_name(out, ".weights"), fitted);
      mogem::write_posteriors(mogem::result_file_name(out, ".probs"), fitted);
    }
    mogem::write_labels(out, fitted);
    std::printf("classes %d\n", fitted.classes);
    return 0;
  } catch (const mogem::error &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
