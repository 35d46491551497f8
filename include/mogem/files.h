// mogem: the files of the mogem program, for programs that keep them.
//
// Saved models (JSON), the parameter file (settings and data) and the result files (labels,
// means, variances, weights, posteriors, snapshots, summaries, the selection table). A program
// that reads and writes through these gives the same bytes as `mogem`. Errors as in
// mogem/mogem.h: each names the file and the problem.
#ifndef MOGEM_FILES_H
#define MOGEM_FILES_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "mogem/processes.h"

namespace mogem {

// Saved models: one JSON document (format "mogem model", version 1) with the kind, metric,
// the feature names (a "feature_names" field only when the model has them, so a model without
// names saves as it always did and a file without the field reads as unnamed), the
// transformations, inverse temperature, weights, means, every covariance entry and the fit
// statistics, numbers in round-trip precision.

std::string model_to_json(const model &fitted);
// Refuses (error(invalid_input), naming `name` and the problem) text that is not such a
// document: not JSON, another format or version, a missing or mistyped field, sizes that do not
// agree (feature names that are not F texts), a value that is not finite, weights that are
// negative, a covariance that is not positive definite. Labels and posteriors of the training rows are not part of it.
model model_from_json(const std::string &text, const std::string &name);
// The file forms; the writer replaces the file whole or not at all (as the result writers),
// refusing (error(invalid_input)) a model with a value that is not finite or feature names that
// are not one per feature.
void write_model_file(const std::string &path, const model &fitted);
model read_model_file(const std::string &path);

// A parameter file: key/value pairs, "begin" and one more token, then rows x cols numbers.
struct parameter_file {
  options settings;          // the keys that matter to a fit (data_name is the file name)
  bool output_model = false;     // write .means, .variances, .weights and .probs
  bool output_internal = false;  // write .internal, the data as the fit sees them
  std::size_t rows = 0, cols = 0;
  std::vector<double> data;      // rows x cols; a share of the rows: its rows from first_row on
  std::size_t first_row = 0;
  bool output_summary = false;   // write "<output>.summary.json"
  std::string model_file;        // write the fitted model there; empty: not
  std::string predict_with;      // fit nothing: label the rows with this saved model
  std::string init_model;        // init_method model: the saved model to start from (the
                                 // caller reads it into settings.start)
  bool select = false;           // select_classes was given: choose among candidates
  selection_settings selection;
  std::vector<std::string> keys; // the keys the parameter section gave, in order
};

// What a reader tells its caller as it goes. Each may be empty; an exception thrown by one
// ends the reading and reaches the caller.
struct reader_callbacks {
  std::function<void(const std::string &)> warning;  // an unknown key or keyword value; the default is taken
  // After the parameter section, before any data are read: the settings and sizes (data empty).
  std::function<void(const parameter_file &)> on_parameters;
  std::function<void()> checkpoint;  // between blocks of rows
  int threads = 0;  // the data of a regular file are read on at most this many threads; 0: every core
  // When set and true for the parameter section, the data are not kept (parameter_file.data
  // stays empty): on_rows gets the rows a block at a time, in order, as they are read, so that
  // memory does not grow with the rows. A bad value is still refused as above, after the
  // blocks before it were handed over.
  std::function<bool(const parameter_file &)> stream_rows;
  std::function<void(const double *values, std::size_t rows)> on_rows;
};

// Reads a whole parameter file. Throws error(invalid_input) naming the file and the problem:
// unreadable, empty, no "begin", a token over 511 characters, rows, cols or num_clusters
// missing or not positive, a data value missing or not a number (its row and column named; a
// file too short for its rows x cols is refused so without allocating the whole matrix);
// error(numerical_failure) when a matrix the file holds, or one read from a pipe, cannot be
// held in memory, or rows x cols overflow the address space.
parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks);
parameter_file read_parameter_file(const std::string &path,
                                   const std::function<void(const std::string &)> &warn = {});
// The same on every process of `group`, each reading the parameter section and only its share
// of the data section (the section is cut at white space into one byte range per process): data
// holds the rows whose first value lies in the process's range, from first_row on. Every
// process throws the same error where one process reading the whole file would, naming the
// same first bad row and column. The file must be a regular file (refused otherwise).
parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks,
                                   const process_group &group);

// The name of a result file: `output` up to the last "." of its last path component (whole
// when it has none), then `extension`: "labels.txt" + ".means" -> "labels.means".
std::string result_file_name(const std::string &output, const std::string &extension);

// The result files. Each replaces the file at path whole or not at all: it is written to a
// temporary beside it ("<path>.mogem-tmp.<pid>"), put on the disk and renamed into place.
// Model values are rounded to single precision and printed with six decimals, tab-separated,
// one line per class (per row for the posteriors), each line ending in a line break. Each
// throws error(write_failure) naming the file and the system's reason when it cannot be
// written completely; the file at path is then as it was.
void write_labels(const std::string &path, const fit_result &fitted);  // one class number 1..K per line
void write_means(const std::string &path, const model &fitted);
void write_variances(const std::string &path, const model &fitted);   // per-feature variances
void write_weights(const std::string &path, const model &fitted);
void write_posteriors(const std::string &path, const fit_result &fitted);  // one line per row
// The data as the fit saw them: "%f", tab-separated, no line break after the last row.
void write_transformed_data(const std::string &path, const double *values, std::size_t rows, std::size_t cols);
// The summary of a run as JSON (format "mogem summary", version 1): what ran, the fit
// statistics and every restart of a fit; of a prediction, the rows' log-likelihood under the
// model read from model_name; of a selection, the chosen candidate's summary and the
// criterion. selection_table: one tab-separated line per candidate under a header line.
void write_fit_summary(const std::string &path, const fit_result &fitted);
void write_prediction_summary(const std::string &path, const model &used, const std::string &model_name,
                              std::size_t rows, double log_likelihood);
void write_selection_summary(const std::string &path, const selection &chosen, criterion by,
                             const std::string &table_name);
void write_selection_table(const std::string &path, const selection &chosen);
// A snapshot as three files: means and variances with four decimals, labels 1..K.
void write_snapshot_means(const std::string &path, const snapshot &at);
void write_snapshot_variances(const std::string &path, const snapshot &at);
void write_snapshot_labels(const std::string &path, const snapshot &at);

}  // namespace mogem

#endif
