// The program's use of saved models: labelling the rows of a parameter file with one
// (predict_with), and starting a fit from one (init_method model).
#ifndef MOGEM_CLI_SAVED_MODELS_H
#define MOGEM_CLI_SAVED_MODELS_H

#include <memory>
#include <string>

#include "cli/staged_results.h"
#include "mogem/files.h"

namespace mogem::detail {

// The model of predict_with, read (read_model_file's refusals) and checked against the keys the
// file gave: "cols" must be its features (else refused naming both and the remedy: rows of
// the model's width, or another model), and num_clusters, em_type and distance_metric, where
// given, must be what it has (else refused naming both values: remove the key, or use
// another model).
std::shared_ptr<const model> load_model_for_prediction(const parameter_file &header);

// The model of init_model, read (read_model_file's refusals).
std::shared_ptr<const model> load_starting_model(const parameter_file &header);

// The fit starts from `start`: num_clusters, em_type and distance_metric, where the file did
// not give them, are the model's (the fit refuses those it gave that differ).
void take_start_model(parameter_file &file, const std::shared_ptr<const model> &start);

// A prediction run: the labels (and with output_model the posteriors, with missing_values em
// the rows filled in) written a block of rows at a time as the reader hands them over, so
// that memory does not grow with the rows; the model files and the summary (with the rows'
// log-likelihood) at the end.
class prediction_run {
 public:
  // The names of the results are those of results' plan.
  prediction_run(const parameter_file &header, std::shared_ptr<const model> used, staged_results &results,
                 int threads);
  void label(const double *values, std::size_t rows);
  // Stages the remaining results and closes the streams; the caller commits.
  void finish();

 private:
  parameter_file header_;
  std::shared_ptr<const model> model_;
  staged_results &results_;
  int threads_;
  output_file *labels_ = nullptr, *posteriors_ = nullptr, *imputed_ = nullptr;
  std::size_t rows_ = 0;
  double log_likelihood_ = 0.0;
};

}  // namespace mogem::detail

#endif
