#include "cli/saved_models.h"

#include <algorithm>

#include "engine/names.h"
#include "io/result_files.h"
#include "io/summary.h"

namespace mogem::detail {

namespace {

bool given(const parameter_file &header, const char *key) {
  return std::find(header.keys.begin(), header.keys.end(), key) != header.keys.end();
}

[[noreturn]] void refuse(const parameter_file &header, const char *key, const std::string &value,
                         const std::string &model_value, const std::string &remedy) {
  throw error(error::kind::invalid_input, "Error in parameter file " + header.settings.data_name + ": \"" + key +
                                              "\" is " + value + ", but the model in " + header.predict_with +
                                              " has " + model_value + "; " + remedy)
      .with_own_heading();
}

// A key the model also gives: the file need not give it.
[[noreturn]] void contradiction(const parameter_file &header, const char *key, const std::string &value,
                                const std::string &model_value) {
  refuse(header, key, value, model_value, "remove the key (the model gives it) or use another model");
}

}  // namespace

std::shared_ptr<const model> load_model_for_prediction(const parameter_file &header) {
  auto used = std::make_shared<const model>(read_model_file(header.predict_with));
  const options &o = header.settings;
  if (header.cols != static_cast<std::size_t>(used->features))
    // The rows must have the model's features: "cols" stays, and says how many values a row has.
    refuse(header, "cols", std::to_string(header.cols), std::to_string(used->features) + " features",
           "give rows of " + std::to_string(used->features) + " values with \"cols " +
               std::to_string(used->features) + "\", or use a model fitted on " + std::to_string(header.cols) +
               " features");
  if (given(header, "num_clusters") && o.classes != used->classes)
    contradiction(header, "num_clusters", std::to_string(o.classes), std::to_string(used->classes) + " classes");
  if (given(header, "em_type") && o.covariance != used->kind)
    contradiction(header, "em_type", kind_name(o.covariance), std::string(kind_name(used->kind)) + " covariances");
  if (given(header, "distance_metric") && o.distance != used->distance)
    contradiction(header, "distance_metric", metric_name(o.distance),
                  std::string("the ") + metric_name(used->distance) + " metric");
  return used;
}

std::shared_ptr<const model> load_starting_model(const parameter_file &header) {
  return std::make_shared<const model>(read_model_file(header.init_model));
}

void take_start_model(parameter_file &file, const std::shared_ptr<const model> &start) {
  options &o = file.settings;
  o.start = start;
  if (!given(file, "num_clusters")) o.classes = start->classes;
  if (!given(file, "em_type")) o.covariance = start->kind;
  if (!given(file, "distance_metric")) o.distance = start->distance;
}

prediction_run::prediction_run(const parameter_file &header, std::shared_ptr<const model> used,
                               staged_results &results, int threads)
    : header_(header), model_(std::move(used)), results_(results), threads_(threads) {
  labels_ = &results_.stream(result::labels);
  if (header_.output_model) posteriors_ = &results_.stream(result::posteriors);
  if (header_.settings.missing == missing_values::em) imputed_ = &results_.stream(result::imputed);
}

void prediction_run::label(const double *values, std::size_t rows) {
  const std::size_t cols = static_cast<std::size_t>(model_->features);
  const matrix_view block{values, rows, cols};
  const prediction p = predict_all(*model_, block, threads_, header_.settings.missing);
  put_class_numbers(*labels_, p.labels.data(), rows);
  if (posteriors_) put_posterior_lines(*posteriors_, p.posteriors.data(), rows, static_cast<std::size_t>(model_->classes));
  if (imputed_) {
    const std::vector<double> filled = impute(*model_, block, threads_);
    put_data_rows(*imputed_, filled.data(), rows, cols, '\t');
  }
  for (double density : p.log_densities) log_likelihood_ += density;
  rows_ += rows;
}

void prediction_run::finish() {
  results_.finish_streams();
  if (header_.output_model) {
    results_.file(result::means, [&](output_file &out) { put_means(out, *model_); });
    results_.file(result::variances, [&](output_file &out) { put_variances(out, *model_); });
    results_.file(result::weights, [&](output_file &out) { put_weights(out, *model_); });
  }
  if (header_.output_summary)
    results_.file(result::summary, [&](output_file &out) {
      put_prediction_summary(out, *model_, header_.predict_with, rows_, log_likelihood_);
    });
}

}  // namespace mogem::detail
