#include "cli/result_plan.h"

#include <algorithm>

namespace mogem::detail {

namespace {

// One row per kind of result file, in the order they are put into place. extension: the
// result's name is the output's with its extension replaced by this; nullptr when the name
// comes from elsewhere. name and help: its line in the help (name nullptr: none).
struct result_kind {
  result what;
  const char *extension;
  const char *name;
  const char *help;
};

const result_kind kinds[] = {
    {result::internal, ".internal", ".internal", "the data after centring and scaling (output_internal)"},
    {result::means, ".means", ".means", "one line per class, its mean (tab-separated, %f)"},
    {result::variances, ".variances", ".variances", "one line per class, its variance of each feature"},
    {result::weights, ".weights", ".weights", "one line per class, its mixture weight"},
    {result::posteriors, ".probs", ".probs", "one line per row, the probability of each class"},
    {result::saved_model, nullptr, nullptr, nullptr},  // model_file names it
    {result::selection_table, ".selection.tsv", ".selection.tsv",
     "one line per candidate of a selection (select_classes)"},
    {result::summary, ".summary.json", ".summary.json", "the fit statistics and restarts (output_summary)"},
    {result::imputed, ".imputed", ".imputed", "the data rows, each missing value filled in (missing_values em)"},
    {result::labels, nullptr, "output_file", "one class number per row"},
};

// The help lists them as a user meets them: the labels, the model files, the dump, the
// snapshots, then the rest.
const result what_help_lists[] = {result::labels,    result::means,    result::variances, result::weights,
                                  result::posteriors, result::internal, result::summary,   result::selection_table,
                                  result::imputed};

const result_kind &kind_of(result what) {
  return *std::find_if(std::begin(kinds), std::end(kinds), [&](const result_kind &k) { return k.what == what; });
}

void print_line(std::FILE *out, const char *name, const char *help) {
  const int column = 16;
  if (static_cast<int>(std::string(name).size()) < column)
    std::fprintf(out, "  %-*s%s\n", column, name, help);
  else
    std::fprintf(out, "  %s\n  %-*s%s\n", name, column, "", help);
}

}  // namespace

std::string result_plan::path(result what) const {
  for (const planned_result &file : files)
    if (file.what == what) return file.path;
  return "";
}

std::size_t result_plan::position(result what) const {
  return static_cast<std::size_t>(&kind_of(what) - kinds);
}

const char *result_plan::role(result what) {
  switch (what) {
    case result::labels:
      return "output file";
    case result::means:
    case result::variances:
    case result::weights:
    case result::posteriors:
      return "model file";
    case result::internal:
      return "data dump";
    default:
      return "result file";
  }
}

result_plan plan_labels(const std::string &input, const std::string &output) {
  return result_plan{input, output, {{result::labels, output}}, false};
}

result_plan plan_results(const std::string &input, const std::string &output, const parameter_file &header) {
  const bool predicting = !header.predict_with.empty();
  auto written = [&](result what) {
    switch (what) {
      case result::internal:
        return header.output_internal && !predicting;
      case result::means:
      case result::variances:
      case result::weights:
      case result::posteriors:
        return header.output_model;
      case result::saved_model:
        return !header.model_file.empty();
      case result::selection_table:
        return header.select;
      case result::summary:
        return header.output_summary;
      case result::imputed:
        return header.settings.missing == missing_values::em;
      case result::labels:
        return true;
    }
    return false;
  };
  result_plan plan{input, output, {}, header.settings.snapshot_every > 0 && !predicting};
  for (const result_kind &kind : kinds) {
    if (!written(kind.what)) continue;
    const std::string path = kind.what == result::labels        ? output
                             : kind.what == result::saved_model ? header.model_file
                                                                : result_file_name(output, kind.extension);
    plan.files.push_back({kind.what, path});
  }
  return plan;
}

void print_result_files(std::FILE *out) {
  for (result what : what_help_lists) {
    const result_kind &kind = kind_of(what);
    print_line(out, kind.name, kind.help);
    if (what == result::internal)
      print_line(out, "NNNNN.means, NNNNN.variances, NNNNN.labels", "snapshots at EM step NNNNN (output_stepsize)");
  }
}

}  // namespace mogem::detail
