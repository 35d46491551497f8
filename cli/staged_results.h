// The result files of one run, all or nothing, as the plan of the run names them
// (cli/result_plan.h).
//
// Each file is written whole into a temporary beside its final name as the run goes (or, for
// the labels and posteriors of a prediction, a block of rows at a time into a temporary kept
// open); when the run has succeeded, commit() renames them into place in the plan's order, the
// labels file last. A run that fails or is interrupted before that removes its temporaries
// (discard, or the destructor), so every earlier file stays as it was. Snapshots are for
// watching a run: each is renamed into place as soon as it is complete. A device, a pipe or a
// descriptor is written in place (io/output_file.h). Every failure throws mogem::error
// (write_failure) naming the file. Over several processes (share), process 0 writes the files
// of the model and does every rename; the files with a line per row (labels, .probs,
// .internal, .imputed, snapshot labels) get each process's rows in rank order, appended to the
// one temporary; a failure on any process is every process's (together, engine/processes.h).
#ifndef MOGEM_CLI_STAGED_RESULTS_H
#define MOGEM_CLI_STAGED_RESULTS_H

#include <functional>
#include <string>
#include <vector>

#include "cli/result_plan.h"
#include "engine/processes.h"
#include "io/output_file.h"
#include "mogem/files.h"

namespace mogem::detail {

class staged_results {
 public:
  // plan: the run's plan, which the caller may complete (plan_results) before anything is staged.
  explicit staged_results(const result_plan &plan, const row_share &share = row_share{})
      : plan_(plan), share_(share) {}
  ~staged_results() { discard(); }
  staged_results(const staged_results &) = delete;
  staged_results &operator=(const staged_results &) = delete;

  // The rows of each process, once they are known (the share given first need only name the
  // group).
  void share_rows(const row_share &share) { share_ = share; }
  void snapshot(const mogem::snapshot &at);
  void transformed_data(const double *values, std::size_t rows, std::size_t cols);
  void model_files(const fit_result &fitted);  // .means, .variances, .weights, .probs
  void labels(const fit_result &fitted);
  // Any other planned result of the model, whole (process 0 alone): put fills it.
  void file(result what, const std::function<void(output_file &)> &put);
  // A planned result with a line per row (.imputed): put fills this process's rows, each
  // process in rank order into the one file.
  void rows_file(result what, const std::function<void(output_file &)> &put);
  // A result written piece by piece: the file stays open (and staged) until finish_streams.
  output_file &stream(result what);
  void finish_streams();

  // Renames every staged file into place in the plan's order, the labels file last, with the
  // signals held back: renaming several files is not atomic as a whole, and a run that got
  // here completes.
  void commit();
  void discard();

 private:
  struct staged_file {
    result what;
    pending_result file;
  };

  // Opens the result's file (its open failure: the labels file's own text), fills and keeps it.
  pending_result &open(result what, const std::string &path);
  void stage(result what, const std::string &path, const std::function<void(output_file &)> &put);
  bool first_process() const { return share_.rank() == 0; }
  // A file only process 0 writes; a file with a line per row, each process's rows in turn.
  void stage_first(result what, const std::function<void(output_file &)> &put);
  void stage_in_order(result what, const std::string &path, const std::function<void(output_file &)> &put);
  void commit_here();

  const result_plan &plan_;
  row_share share_;
  std::vector<staged_file> staged_;
};

}  // namespace mogem::detail

#endif
