// The result files of one run, planned once from the command line and the parameter section:
// what each is, its name, and the order in which they are put into place. The checks before
// the run, the staging, the renames and the help all read it.
//
// The order is that of the table in result_plan.cpp, the labels file last: of two results that
// share a name (a labels file named run.means with output_model 1, say) both are written and
// the later in this order wins, the labels file over every other.
#ifndef MOGEM_CLI_RESULT_PLAN_H
#define MOGEM_CLI_RESULT_PLAN_H

#include <cstdio>
#include <string>
#include <vector>

#include "mogem/files.h"

namespace mogem::detail {

enum class result {
  internal, means, variances, weights, posteriors, saved_model, selection_table, summary, imputed, labels
};

struct planned_result {
  result what;
  std::string path;
};

struct result_plan {
  std::string input, output;
  std::vector<planned_result> files;  // in the order they are put into place, the labels file last
  bool snapshots = false;             // numbered snapshots, each put into place as it comes

  // The name of a planned result; "" when the run does not write it.
  std::string path(result what) const;
  // The position of a result in the order of putting into place.
  std::size_t position(result what) const;
  // What a result is called in a message: "output file", "model file", "data dump", "result file".
  static const char *role(result what);
};

// Before the parameter section is read: the labels file alone.
result_plan plan_labels(const std::string &input, const std::string &output);

// Every result the run the parameter section asks for writes: a fit (with output_model,
// output_internal, output_stepsize, model_file, output_summary), a selection (select_classes:
// also the selection table) or a prediction (predict_with: labels, and with output_model the
// posteriors and the model files, and the summary; no snapshot, no data dump); with
// missing_values em either also writes .imputed, the rows with their missing values filled in.
result_plan plan_results(const std::string &input, const std::string &output, const parameter_file &header);

// The help's list of the result files, one line each (a name too long for its column gets a
// line of its own).
void print_result_files(std::FILE *out);

}  // namespace mogem::detail

#endif
