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
#include "cli/result_plan.h"
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

// Fits (or selects) on the rows read, then stages every result of the plan: the model files,
// the saved model, the selection table, the summary, the rows filled in, the labels.
// rows: the rows this process holds (all of them alone).
void fit_and_stage(parameter_file &file, std::size_t rows, const result_plan &plan, staged_results &results,
                   callbacks &hooks, em_progress *line) {
  selection chosen;  // a plain fit is kept as its best
  const bool imputing = file.settings.missing == missing_values::em;
  const matrix_view data{file.data.data(), rows, file.cols};
  try {
    if (file.select)
      chosen = select_model(data, file.settings, file.selection, hooks);
    else if (imputing)  // the rows stay in their own units, to be filled in after the fit
      chosen.best = fit(data, file.settings, hooks);
    else
      chosen.best = fit_in_place(file.data.data(), rows, file.cols, file.settings, hooks);
  } catch (...) {
    progress_finish(line);
    throw;
  }
  progress_finish(line);
  const fit_result &fitted = chosen.best;
  if (file.output_model) results.model_files(fitted);
  if (!file.model_file.empty())
    results.file(result::saved_model, [&](output_file &out) { put_model(out, fitted.model); });
  if (file.select) {
    results.file(result::selection_table, [&](output_file &out) { put_selection_table(out, chosen); });
    if (file.output_summary)
      results.file(result::summary, [&](output_file &out) {
        put_selection_summary(out, chosen, file.selection.by, plan.path(result::selection_table));
      });
  } else if (file.output_summary) {
    results.file(result::summary, [&](output_file &out) { put_fit_summary(out, fitted); });
  }
  if (imputing)
    results.rows_file(result::imputed, [&](output_file &out) {
      const std::vector<double> filled = impute(fitted.model, data, file.settings.threads);
      put_data_rows(out, filled.data(), rows, file.cols, '\t');
    });
  results.labels(fitted);
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
  result_plan plan = plan_labels(input, output);
  together(all, [&] {
    if (group) refuse_unshareable_input(input);
    refuse_results_over_input(plan);
  });
  staged_results results(plan, all);
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
    plan = plan_results(input, output, header);
    refuse_results_over_input(plan);
    refuse_unwritable_results(plan);
    if (!header.predict_with.empty())
      predicting = std::make_unique<prediction_run>(header, load_model_for_prediction(header), results, threads);
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
    together(all, [&] { fit_and_stage(file, rows, plan, results, hooks, line); });
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
    const std::string message = interrupt_message(group, stop.signal_number);
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    return 128 + stop.signal_number;
  }
}

}  // namespace mogem::detail
