#include "cli/program.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/checks.h"
#include "cli/interrupt.h"
#include "cli/processes.h"
#include "cli/progress.h"
#include "cli/saved_models.h"
#include "cli/staged_results.h"
#include "engine/kernels/parallel.h"
#include "engine/processes.h"
#include "nr/nr_util.h"
#include "io/model_file.h"
#include "io/result_files.h"
#include "io/summary.h"

namespace mogem::detail {

namespace {

void print_notice(const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// Notices come from process 0 only: the others meet the same ones.
std::function<void(const std::string &)> notices_of(const process_group *group) {
  if (group && group->rank != 0) return [](const std::string &) {};
  return print_notice;
}

// Fits (or selects) on the rows read, then stages every result: the model files, the saved
// model, the selection table, the summary, the labels.
// rows: the rows this process holds (all of them alone).
void fit_and_stage(parameter_file &file, std::size_t rows, const std::string &output, staged_results &results,
                   callbacks &hooks, em_progress *line) {
  selection chosen;  // a plain fit is kept as its best
  try {
    if (file.select)
      chosen = select_model(matrix_view{file.data.data(), rows, file.cols}, file.settings, file.selection, hooks);
    else
      chosen.best = fit_in_place(file.data.data(), rows, file.cols, file.settings, hooks);
  } catch (...) {
    progress_finish(line);
    throw;
  }
  progress_finish(line);
  const fit_result &fitted = chosen.best;
  if (file.output_model) results.model_files(fitted);
  if (!file.model_file.empty()) results.file(file.model_file, [&](output_file &out) { put_model(out, fitted.model); });
  const std::string summary = result_file_name(output, ".summary.json");
  if (file.select) {
    const std::string table = result_file_name(output, ".selection.tsv");
    results.file(table, [&](output_file &out) { put_selection_table(out, chosen); });
    if (file.output_summary)
      results.file(summary, [&](output_file &out) { put_selection_summary(out, chosen, file.selection.by, table); });
  } else if (file.output_summary) {
    results.file(summary, [&](output_file &out) { put_fit_summary(out, fitted); });
  }
  results.labels(fitted);
}

// The results a run writes besides the labels and the files named after them: for the
// checks before the data are read.
std::vector<std::string> further_results(const parameter_file &header, const std::string &output) {
  std::vector<std::string> paths;
  if (header.output_summary) paths.push_back(result_file_name(output, ".summary.json"));
  if (!header.model_file.empty()) paths.push_back(header.model_file);
  if (header.select) paths.push_back(result_file_name(output, ".selection.tsv"));
  return paths;
}

// Over several processes every step that can fail runs together (engine/processes.h): a
// failure is every process's, and process 0 reports it.
int run(const char *input, const char *output, const process_group *group) {
  watch_for_interrupts();
  const int threads = threads_from_environment();
  const auto notice = notices_of(group);
  row_share all;
  all.group = group;
  if (group) {
    const std::string mismatch = signature_mismatch(*group);
    if (!mismatch.empty()) notice(mismatch);
  }
  together(all, [&] { refuse_output_over_input(input, output); });
  staged_results results(input, output, all);
  std::unique_ptr<prediction_run> predicting;
  std::shared_ptr<const model> start;
  reader_callbacks reading;
  reading.warning = notice;
  reading.checkpoint = stop_if_interrupted;
  reading.threads = threads;
  reading.on_parameters = [&](const parameter_file &header) {
    if (group && !header.predict_with.empty())
      refuse_input("Error in parameter file %s: predict_with runs as one process only for now; start it without "
                   "mpirun", input);
    const std::vector<std::string> others = further_results(header, output);
    refuse_outputs_over_input(input, output, header.output_model, header.output_internal, others);
    refuse_unwritable_outputs(output, header.output_model, header.output_internal, header.settings.snapshot_every > 0,
                              others);
    if (!header.predict_with.empty())
      predicting = std::make_unique<prediction_run>(header, load_model_for_prediction(header), output, results,
                                                    threads);
    if (!header.init_model.empty()) start = load_starting_model(header);
  };
  reading.stream_rows = [&](const parameter_file &) { return predicting != nullptr; };
  reading.on_rows = [&](const double *values, std::size_t rows) { predicting->label(values, rows); };
  parameter_file file;
  together(all, [&] {
    file = group ? read_parameter_file(input, reading, *group) : read_parameter_file(input, reading);
  });
  stop_if_interrupted();
  if (predicting) {
    predicting->finish();
  } else {
    const std::size_t rows = group ? file.data.size() / file.cols : file.rows;
    results.share_rows(share_of(group, static_cast<long long>(rows)));
    file.settings.threads = threads;
    if (start) take_start_model(file, start);
    callbacks hooks;
    hooks.processes = group;
    hooks.warning = notice;
    hooks.on_snapshot = [&](const snapshot &at) { results.snapshot(at); };
    if (file.output_internal)
      hooks.on_transformed_data = [&](const double *values, std::size_t rows, std::size_t cols) {
        results.transformed_data(values, rows, cols);
      };
    em_progress *line = group && group->rank != 0 ? nullptr : progress_start_if_terminal();
    hooks.on_progress = [line](const progress &at) {
      if (line) progress_em_step(line, at);
      stop_if_interrupted();
    };
    together(all, [&] { fit_and_stage(file, rows, output, results, hooks, line); });
  }
  stop_if_interrupted();
  results.commit();
  return 0;
}

}  // namespace

int exit_code_of(const error &failure) { return failure.what_kind() == error::kind::invalid_input ? -1 : 1; }

// The library's message in the parameter file's words, under the program's "Error: " unless it
// carries a heading of its own.
void print_failure(std::FILE *out, const error &failure) {
  const std::string text = (failure.has_own_heading() ? "" : "Error: ") + failure.in_file_terms();
  if (failure.what_kind() == error::kind::numerical_failure)
    std::fprintf(out, "Numerical Recipes run-time error...\n%s\n...now exiting to system...\n", text.c_str());
  else
    std::fprintf(out, "%s\n", text.c_str());
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

int run_program(int argc, char **argv, const process_group *group) {
  const bool speaks = !group || group->rank == 0;
  if (argc <= 2) {
    if (speaks) std::fprintf(stderr, "Usage: %s <input_file> <output_file>\n", argc > 0 ? argv[0] : "mogem");
    return -1;
  }
  try {
    return run(argv[1], argv[2], group);
  } catch (const shared_failure &failure) {
    if (speaks) print_failure(stderr, failure);
    return exit_code_of(failure);
  } catch (const error &failure) {
    // Alone, every failure; over several processes one that this process met by itself,
    // while the others may wait for it: it reports and ends them all.
    print_failure(stderr, failure);
    if (group) abort_processes(exit_code_of(failure));
    return exit_code_of(failure);
  } catch (const interrupted &stop) {
    std::fprintf(stderr, "Interrupted (%s); no result was written\n", stop.signal_number == SIGINT ? "SIGINT" : "SIGTERM");
    return 128 + stop.signal_number;
  }
}

}  // namespace mogem::detail
