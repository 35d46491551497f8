// The JSON summaries of a run and the selection table (mogem/mogem.h has the writers), and the
// statistics block that the summary and the saved model share.
#ifndef MOGEM_IO_SUMMARY_H
#define MOGEM_IO_SUMMARY_H

#include <nlohmann/json.hpp>

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

}  // namespace mogem::detail

#endif
