#include "cli/program.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/checks.h"
#include "cli/interrupt.h"
#include "cli/processes.h"
#include "cli/progress.h"
#include "engine/processes.h"
#include "engine/kernels/parallel.h"
#include "io/result_files.h"

namespace mogem::detail {

namespace {

void print_notice(const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// Notices come from process 0 only: the others meet the same ones.
std::function<void(const std::string &)> notices_of(const process_group *group) {
  if (group && group->rank != 0) return [](const std::string &) {};
  return print_notice;
}

// The result files of one run, all or nothing. Each is written whole into a temporary beside
// its final name as the run goes; when the run has succeeded, commit() renames them into
// place, the labels file last. A run that fails or is interrupted before that removes its
// temporaries (discard, or the destructor), so every earlier file stays as it was. Snapshots
// are for watching a run: each is renamed into place as soon as it is complete.
// Over several processes, process 0 writes the model files and does every rename; the files
// with a line per row get each process's rows in rank order, appended to the one temporary;
// a failure on any process is every process's (together, engine/processes.h).
class staged_results {
 public:
  staged_results(const std::string &input, const std::string &output, const row_share &share)
      : input_(input), output_(output), share_(share) {}
  ~staged_results() { discard(); }
  staged_results(const staged_results &) = delete;
  staged_results &operator=(const staged_results &) = delete;

  void snapshot(const mogem::snapshot &at) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%05d", at.step);
    const std::string step = suffix;
    together(share_, [&] {
      if (first_process())
        write_snapshot_file(step + ".means", [&](output_file &out) { put_snapshot_means(out, at); });
    });
    together(share_, [&] {
      if (first_process())
        write_snapshot_file(step + ".variances", [&](output_file &out) { put_snapshot_variances(out, at); });
    });
    if (share_.alone()) {
      write_snapshot_file(step + ".labels", [&](output_file &out) { put_snapshot_labels(out, at); });
      return;
    }
    // Written in rank order into a temporary, then renamed into place at once.
    const std::string path = result_file_name(output_, step + ".labels");
    stage_in_order(path, [&](output_file &out) { put_snapshot_labels(out, at); });
    together(share_, [&] {
      if (!first_process() || staged_.empty() || staged_.back().final_name != path) return;  // in place
      const staged_file file = staged_.back();
      staged_.pop_back();
      try {
        rename_into_place(file.temporary, file.target, file.final_name);
      } catch (...) {
        ::unlink(file.temporary.c_str());
        throw;
      }
      sync_directory_of(file.target, file.final_name);
    });
  }

  void transformed_data(const double *values, std::size_t rows, std::size_t cols) {
    stage_in_order(result_file_name(output_, ".internal"), [&](output_file &out) {
      put_transformed_data(out, values, rows, cols, share_.first > 0);
    });
  }

  void model_files(const model &fitted) {
    stage_first(result_file_name(output_, ".means"), [&](output_file &out) { put_means(out, fitted); });
    stage_first(result_file_name(output_, ".variances"), [&](output_file &out) { put_variances(out, fitted); });
    stage_first(result_file_name(output_, ".weights"), [&](output_file &out) { put_weights(out, fitted); });
    stage_in_order(result_file_name(output_, ".probs"), [&](output_file &out) { put_posteriors(out, fitted); });
  }

  void labels(const model &fitted) {
    stage_in_order(output_, [&](output_file &out) { put_labels(out, fitted); }, labels_open_failure(output_));
  }

  // Renames every staged file into place in the order staged, with the signals held back:
  // renaming several files is not atomic as a whole, and a run that got here completes.
  void commit() {
    together(share_, [&] {
      if (first_process()) commit_here();
    });
  }

  void discard() {
    for (const staged_file &file : staged_) ::unlink(file.temporary.c_str());
    staged_.clear();
  }

 private:
  struct staged_file {
    std::string temporary, target, final_name;  // target: final_name, or the file its link names
  };

  bool first_process() const { return share_.rank() == 0; }

  void commit_here() {
    interrupts_held held;
    const std::vector<staged_file> files = staged_;
    for (const staged_file &file : files) {
      rename_into_place(file.temporary, file.target, file.final_name);
      staged_.erase(staged_.begin());
    }
    std::vector<std::string> synced;  // each directory once
    for (const staged_file &file : files) {
      const std::string directory = file.target.substr(0, file.target.rfind('/') + 1);
      if (std::find(synced.begin(), synced.end(), directory) != synced.end()) continue;
      synced.push_back(directory);
      sync_directory_of(file.target, file.final_name);
    }
  }

  // A file only process 0 writes (the model's own files).
  template <typename Put>
  void stage_first(const std::string &path, Put put) {
    together(share_, [&] {
      if (first_process()) stage(path, put);
    });
  }

  // A file with a line per row: process 0 stages it with its rows, then every other process
  // in rank order appends its own to the same file.
  template <typename Put>
  void stage_in_order(const std::string &path, Put put, const std::string &open_failure = "") {
    if (share_.alone()) {
      stage(path, put, open_failure);
      return;
    }
    std::string written;  // the file the processes write into
    for (int r = 0; r < share_.size(); r++) {
      together(share_, [&] {
        if (share_.rank() != r) return;
        if (r == 0) {
          stage(path, put, open_failure);
          written = staged_.empty() || staged_.back().final_name != path ? plan_write(path).target
                                                                          : staged_.back().temporary;
          return;
        }
        output_file out(written, path, open_failure, true, true);
        put(out);
        out.finish();
      });
      if (r == 0) share_.group->broadcast_text(written, 0);
    }
  }

  template <typename Put>
  void write_snapshot_file(const std::string &extension, Put put) {
    stop_if_interrupted();
    const std::string path = result_file_name(output_, extension);
    refuse_input_file(path);
    write_whole(path, put);
  }

  template <typename Put>
  void stage(const std::string &path, Put put, const std::string &open_failure = "") {
    stop_if_interrupted();
    refuse_input_file(path);
    const write_plan plan = plan_write(path);
    if (plan.in_place) {  // a device or a pipe: nothing to rename, nothing to keep
      output_file out(plan.target, path, open_failure, true);
      put(out);
      out.finish();
      return;
    }
    staged_file file{temporary_name(plan.target), plan.target, path};
    output_file out(file.temporary, path, open_failure);
    staged_.push_back(file);
    put(out);
    out.finish();
  }

  // A result that would replace the input is refused (also a snapshot, whose name the checks
  // before the run cannot know).
  void refuse_input_file(const std::string &path) const {
    if (same_file(path, input_))
      throw error(error::kind::write_failure, "Error: the file " + path + " is the input file; it is not overwritten");
  }

  std::string input_, output_;
  row_share share_;
  std::vector<staged_file> staged_;
};

int run(const char *input, const char *output, const process_group *group) {
  watch_for_interrupts();
  const int threads = threads_from_environment();
  const auto notice = notices_of(group);
  // Over several processes every step that can fail runs together (engine/processes.h): a
  // failure is every process's, and process 0 reports it.
  row_share all;
  all.group = group;
  if (group) {
    const std::string mismatch = signature_mismatch(*group);
    if (!mismatch.empty()) notice(mismatch);
  }
  reader_callbacks reading;
  reading.warning = notice;
  reading.checkpoint = stop_if_interrupted;
  reading.threads = threads;
  reading.on_parameters = [&](const parameter_file &header) {
    refuse_outputs_over_input(input, output, header.output_model, header.output_internal);
    refuse_unwritable_outputs(output, header.output_model, header.output_internal, header.settings.snapshot_every > 0);
  };
  parameter_file file;
  together(all, [&] {
    refuse_output_over_input(input, output);
    file = group ? read_parameter_file(input, reading, *group) : read_parameter_file(input, reading);
  });
  file.settings.threads = threads;
  stop_if_interrupted();
  const std::size_t rows = group ? file.data.size() / file.cols : file.rows;

  callbacks hooks;
  hooks.processes = group;
  staged_results results(input, output, share_of(group, static_cast<long long>(rows)));
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
  model fitted;
  try {
    together(all, [&] { fitted = fit_in_place(file.data.data(), rows, file.cols, file.settings, hooks); });
  } catch (...) {
    progress_finish(line);
    throw;
  }
  progress_finish(line);
  if (file.output_model) results.model_files(fitted);
  results.labels(fitted);
  stop_if_interrupted();
  results.commit();
  return 0;
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
