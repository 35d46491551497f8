#include "cli/program.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "cli/checks.h"
#include "cli/progress.h"
#include "engine/kernels/parallel.h"

namespace mogem::detail {

namespace {

void print_notice(const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// The result files of one run, written as the fit goes (dumps) and after it (model files,
// labels). A file that cannot be written is reported at once; the others are still written
// and the run ends with exit code 1.
class result_writer {
 public:
  result_writer(const std::string &input, const std::string &output) : input_(input), output_(output) {}

  int failures() const { return failures_; }

  template <typename Write>
  void write(const std::string &path, Write write_file) {
    try {
      write_file(path);
    } catch (const error &failure) {
      print_notice(failure.what());
      failures_++;
    }
  }

  void snapshot(const mogem::snapshot &at) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%05d", at.step);
    write_guarded(std::string(suffix) + ".means", [&](const std::string &p) { write_snapshot_means(p, at); });
    write_guarded(std::string(suffix) + ".variances", [&](const std::string &p) { write_snapshot_variances(p, at); });
    write_guarded(std::string(suffix) + ".labels", [&](const std::string &p) { write_snapshot_labels(p, at); });
  }

  void transformed_data(const double *values, std::size_t rows, std::size_t cols) {
    write_guarded(".internal", [&](const std::string &p) { write_transformed_data(p, values, rows, cols); });
  }

  void model_files(const model &fitted) {
    write(result_file_name(output_, ".means"), [&](const std::string &p) { write_means(p, fitted); });
    write(result_file_name(output_, ".variances"), [&](const std::string &p) { write_variances(p, fitted); });
    write(result_file_name(output_, ".weights"), [&](const std::string &p) { write_weights(p, fitted); });
    write(result_file_name(output_, ".probs"), [&](const std::string &p) { write_posteriors(p, fitted); });
  }

  void labels(const model &fitted) {
    write(output_, [&](const std::string &p) { write_labels(p, fitted); });
  }

 private:
  // A dump named after the output; one that would replace the input is refused.
  template <typename Write>
  void write_guarded(const std::string &extension, Write write_file) {
    const std::string path = result_file_name(output_, extension);
    if (same_file(path, input_)) {
      std::fprintf(stderr, "Error: the file %s is the input file; it is not overwritten\n", path.c_str());
      failures_++;
      return;
    }
    write(path, write_file);
  }

  std::string input_, output_;
  int failures_ = 0;
};

int run(const char *input, const char *output) {
  const int threads = threads_from_environment();
  refuse_output_over_input(input, output);
  parameter_file file = read_parameter_file(input, print_notice);
  refuse_outputs_over_input(input, output, file.output_model, file.output_internal);
  file.settings.threads = threads;

  result_writer results(input, output);
  callbacks hooks;
  hooks.warning = print_notice;
  hooks.on_snapshot = [&](const snapshot &at) { results.snapshot(at); };
  if (file.output_internal)
    hooks.on_transformed_data = [&](const double *values, std::size_t rows, std::size_t cols) {
      results.transformed_data(values, rows, cols);
    };
  em_progress *line = progress_start_if_terminal();
  if (line) hooks.on_progress = [line](const progress &at) { progress_em_step(line, at); };
  model fitted;
  try {
    fitted = fit_in_place(file.data.data(), file.rows, file.cols, file.settings, hooks);
  } catch (...) {
    progress_finish(line);
    throw;
  }
  progress_finish(line);
  if (file.output_model) results.model_files(fitted);
  results.labels(fitted);
  // A run whose results could not all be written is not a success.
  return results.failures() ? 1 : 0;
}

}  // namespace

int exit_code_of(const error &failure) { return failure.what_kind() == error::kind::invalid_input ? -1 : 1; }

void print_failure(std::FILE *out, const error &failure) {
  if (failure.what_kind() == error::kind::numerical_failure)
    std::fprintf(out, "Numerical Recipes run-time error...\n%s\n...now exiting to system...\n", failure.what());
  else
    std::fprintf(out, "%s\n", failure.what());
}

int threads_from_environment() {
  const char *text = std::getenv("MOGEM_THREADS");
  if (!text || !*text) return 0;
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1) {
    std::fprintf(stderr, "MOGEM_THREADS=%s is not a positive integer; using all %d cores\n", text, available_cores());
    return 0;
  }
  return value < available_cores() ? static_cast<int>(value) : available_cores();
}

int run_program(int argc, char **argv) {
  if (argc <= 2) {
    std::fprintf(stderr, "Usage: %s <input_file> <output_file>\n", argc > 0 ? argv[0] : "mogem");
    return -1;
  }
  try {
    return run(argv[1], argv[2]);
  } catch (const error &failure) {
    print_failure(stderr, failure);
    return exit_code_of(failure);
  }
}

}  // namespace mogem::detail
