// The result files of one run, all or nothing.
//
// Each file is written whole into a temporary beside its final name as the run goes (or, for
// the labels and posteriors of a prediction, a block of rows at a time into a temporary kept
// open); when the run has succeeded, commit() renames them into place, the labels file last.
// A run that fails or is interrupted before that removes its temporaries (discard, or the
// destructor), so every earlier file stays as it was. Snapshots are for watching a run: each
// is renamed into place as soon as it is complete. A device or a pipe is written in place.
// Every failure throws mogem::error (write_failure) naming the file; a result whose name is the
// input file is refused so. Over several processes (share), process 0 writes the files of the
// model and does every rename; the files with a line per row (labels, .probs, .internal,
// snapshot labels) get each process's rows in rank order, appended to the one temporary; a
// failure on any process is every process's (together, engine/processes.h).
#ifndef MOGEM_CLI_STAGED_RESULTS_H
#define MOGEM_CLI_STAGED_RESULTS_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/processes.h"
#include "io/output_file.h"
#include "mogem/files.h"

namespace mogem::detail {

class staged_results {
 public:
  staged_results(const std::string &input, const std::string &output, const row_share &share = row_share{})
      : input_(input), output_(output), share_(share) {}
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
  // Any other result, whole: put fills it.
  void file(const std::string &path, const std::function<void(output_file &)> &put);
  // A result written piece by piece: the file stays open (and staged) until finish_streams.
  output_file &stream(const std::string &path, const std::string &open_failure = "");
  void finish_streams();
  // The labels file's open failure text, for stream().
  std::string labels_failure() const;

  // Renames every staged file into place, the labels file last, with the signals held back:
  // renaming several files is not atomic as a whole, and a run that got here completes.
  void commit();
  void discard();

 private:
  struct staged_file {
    std::string temporary, target, final_name;  // target: final_name, or the file its link names
  };

  void write_snapshot_file(const std::string &extension, const std::function<void(output_file &)> &put);
  void stage(const std::string &path, const std::function<void(output_file &)> &put,
             const std::string &open_failure = "");
  // A result that would replace the input is refused (also a snapshot, whose name the checks
  // before the run cannot know).
  void refuse_input_file(const std::string &path) const;
  bool first_process() const { return share_.rank() == 0; }
  // A file only process 0 writes; a file with a line per row, each process's rows in turn.
  void stage_first(const std::string &path, const std::function<void(output_file &)> &put);
  void stage_in_order(const std::string &path, const std::function<void(output_file &)> &put,
                      const std::string &open_failure = "");
  void commit_here();

  std::string input_, output_;
  row_share share_;
  std::vector<staged_file> staged_;
  std::vector<std::unique_ptr<output_file>> streams_;
};

}  // namespace mogem::detail

#endif
