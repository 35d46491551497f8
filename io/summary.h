// The JSON summaries of a run and the selection table (mogem/mogem.h has the writers), the
// statistics block that the summary and the saved model share, and the texts a person reads at
// the end of a fit: the same words from the command line and from the Python package, each
// naming the settings in its own face's words.
#ifndef MOGEM_IO_SUMMARY_H
#define MOGEM_IO_SUMMARY_H

#include <nlohmann/json.hpp>

#include <string>

#include "io/output_file.h"
#include "mogem/files.h"

namespace mogem::detail {

// {"data_points", "em_steps", "stop", "stopped_by", "log_likelihood",
// "log_likelihood_per_point", "parameters", "bic", "aic", "icl", "entropy",
// "variances_at_floor", "variances_total", "classes_without_weight"} of the model's training
// rows.
nlohmann::ordered_json statistics_json(const model &fitted);

// The summary of a fit: format, version, "run": "fit", the settings, the sizes, the statistics
// and every restart.
nlohmann::ordered_json fit_summary(const fit_result &fitted);

// The documents and the table of the public writers, into an open file.
void put_fit_summary(output_file &out, const fit_result &fitted);
void put_prediction_summary(output_file &out, const model &used, const std::string &model_name, std::size_t rows,
                            double log_likelihood);
void put_selection_summary(output_file &out, const selection &chosen, criterion by, const std::string &table_name);
void put_selection_table(output_file &out, const selection &chosen);

// How a face names the settings its remedies mention: the Python package "max_iter", "tol",
// "reg_covar"; the command line "--max-iter", "--tol", "--reg-covar".
struct setting_names {
  std::string max_iter = "max_iter", tol = "tol", reg_covar = "reg_covar";
};

// "" when the fit met its stop rule; else "EM stopped at its budget of <budget> steps before the
// stop rule was met (last change D); raise <max_iter> or <tol>". budget: the step budget the fit
// had (per annealing stage).
std::string budget_warning(const model &fitted, int budget, const setting_names &names);

// "" when no variance was held at the floor in the last step; else how many, and the remedy.
std::string floor_warning(const model &fitted, const setting_names &names);

// The end of a fit for a person, lines ending in a line break: classes, kind, rows,
// log-likelihood, BIC, steps and what ended EM, then each class's weight and row count (from
// fitted.labels), then the two warnings above where they apply.
std::string fit_report(const fit_result &fitted, int budget, const setting_names &names);

// The candidates of a selection, one line each under a header, the chosen one marked and a
// failed one shown as failed with its reason.
std::string selection_report(const selection &chosen, criterion by);

}  // namespace mogem::detail

#endif
