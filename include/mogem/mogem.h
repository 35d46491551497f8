// mogem: mixtures of Gaussians fitted to the rows of a numeric matrix by EM or annealing EM.
//
// The whole public interface of the library. A fit takes a view of the caller's row-major
// doubles and an options record and returns a model: weights, means and covariances of the
// chosen kind, the transformations applied to the data, each row's label and the steps run.
// The model labels new rows (predict, predict_proba). The parameter-file reader and the
// result-file writers of the mogem program are here too, for programs that keep its files.
//
// Conventions: rows i = 0..N-1, features j = 0..F-1, classes k = 0..K-1; matrices are
// row-major. Results are exact and reproducible: the same data and options give the same
// bits on every run and any thread count. The library never prints and never ends the
// process: problems come back as mogem::error, notices through the warning callback. It
// holds no mutable global state, so fits on several threads at once do not interfere.
#ifndef MOGEM_MOGEM_H
#define MOGEM_MOGEM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace mogem {

// The one exception type of the library. what() is the message, one or more lines without a
// final line break, naming the file, key, row or value concerned and the remedy where there
// is one.
class error : public std::runtime_error {
 public:
  enum class kind {
    invalid_input,      // unreadable or inconsistent input, settings that cannot run
    numerical_failure,  // memory or sizes beyond reach, a covariance that cannot be factorised
    breakdown,          // the model became not-a-number during the fit
    write_failure,      // a result file that could not be written completely
  };
  error(kind what_kind, const std::string &message) : std::runtime_error(message), kind_(what_kind) {}
  kind what_kind() const noexcept { return kind_; }

 private:
  kind kind_;
};

// Covariance per class: one variance, one variance per feature, or a full matrix.
enum class covariance_kind { scalar, diagonal, full };

// Euclidean geometry, or correlation geometry: data rows and class means are scaled to unit
// length for the whole fit.
enum class metric { euclidean, correlation };

// Plain EM, or deterministic-annealing EM (one class at init_temp, cooled by schedule_scalar
// per stage, classes split until `classes` are reached at temperature 1). A mixture of t
// distributions is recognised but not available: fit refuses it.
enum class algorithm { em, annealing, mixture_of_t };

// How the initial means are chosen: the centroid, then the points farthest from the means so
// far; the means of a random partition; random data points; random points of the data's
// bounding box; averages of `samples` random points; read from `means_file`; or the whole
// starting model (weights, means, covariances) taken from `start_model`, a warm start; or the
// means in `initial_means`, at full precision (the rest of the start as for a means file).
enum class initialization { church_means, random_means, random_point, random_range, random_sample, means_file,
                            saved_model, given_means };

// Whether an initialization draws random numbers: only those give other fits from other seeds.
bool is_random(initialization init);

struct model;

// Every setting that matters to a fit, with the parameter file's defaults.
struct options {
  int classes = 1;                                       // K; lowered to N, with a warning, when larger
  covariance_kind covariance = covariance_kind::diagonal;
  metric distance = metric::euclidean;
  bool center = false;                                   // subtract each feature's mean first
  algorithm method = algorithm::em;
  int max_iterations = 0;                                // EM step budget (per annealing stage)
  double schedule_scalar = 0.9;                          // annealing: temperature factor per stage
  double init_temp = 10.0;                               // annealing: starting temperature
  initialization init = initialization::church_means;
  std::int32_t random_seed = 42;                         // s and -s give the same fit, so do 0 and 1
  int samples = 0;                                       // random_sample: points averaged per mean
  std::string means_file;                                // means_file: K rows of F numbers, single precision
  int snapshot_every = 0;                                // snapshot callback at every multiple of this step; 0 never
  int threads = 0;                                       // at most this many threads; 0: every core the process may use
  std::string data_name;                                 // the data's file, for messages; may be empty
  // Fits from this many seeds (restart_seed), the one with the highest final log-likelihood
  // kept (ties: the first). Above 1 only with a random initialization and without snapshots.
  int restarts = 1;
  // The EM loop stops when the weight changes of its last four steps sum to less than this.
  double convergence_threshold = 1e-6;
  // Added to every variance (every covariance's diagonal) of a class after each variance
  // update, before any inversion; 0 leaves the arithmetic as it is. Must be 0 or more.
  double reg_covar = 0.0;
  // Every variance (every covariance's diagonal) is held at or above this after each variance
  // update, before reg_covar is added; 0 turns the floor off (a variance that rounding makes
  // negative is still held at 0). Must be 0 or more.
  double variance_floor = 0.001;
  // init == saved_model: the model to start from; its classes, features and kind must be the
  // fit's.
  std::shared_ptr<const model> start_model;
  // init == given_means: `classes` rows of F starting means, row-major (the first rows when
  // the classes are lowered to the rows).
  std::vector<double> initial_means;
};

// A view of the caller's row-major matrix of rows x cols doubles. Not owned; it must outlive
// the call it is passed to.
struct matrix_view {
  const double *values = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
};

// The model at an EM step, for inspection while a fit runs.
struct snapshot {
  int step;
  int classes, features;
  const double *means;              // classes x features
  const double *feature_variances;  // classes x features: the variance of each feature, any kind
  const int *labels;                // rows: each row's most probable class 0..K-1 under the current posteriors
  std::size_t rows;
};

// Where a fit is: called after every EM step.
struct progress {
  int restart;           // which of options.restarts fits (1 for the first)
  int step;              // the EM step just finished (numbered on across annealing stages)
  double weight_change;  // sum over classes of the change of the weight in that step
  bool annealing;
  double temperature;    // annealing only: the stage's temperature, its class count and the goal
  int classes, max_classes;
  // select_model with its candidates side by side: no fit reports, and the caller's thread is
  // told every 100 ms how many candidates are done (step and the rest are then 0).
  int candidates_done, candidates;
};

// One fit over several processes (the mogem program built with MOGEM_MPI, run by mpirun): each
// process holds a contiguous share of the rows, the shares in rank order, and calls fit with the
// same options and its own rows; every process gets the model one process gets on all the rows,
// bit for bit, with the labels and posteriors of its own rows. Sums over rows run through the
// processes in rank order (process r continues the accumulators process r - 1 hands it), so
// each keeps the order of one process; choices over rows (the farthest row, random rows) pick
// the same row. The operations are the caller's messages; each blocks until it is done, and a
// process with no rows still takes part in every one. A failure that one process meets (a bad
// value in its share, a refused allocation) is handed to all, which then throw the same error.
struct process_group {
  int rank = 0, size = 1;
  std::function<void(const double *values, std::size_t n, int to)> send;
  std::function<void(double *values, std::size_t n, int from)> receive;
  std::function<void(double *values, std::size_t n, int root)> broadcast;
  // all[r * n .. r * n + n - 1] receives process r's `n` values, on every process.
  std::function<void(const double *mine, std::size_t n, double *all)> gather;
  std::function<void(std::string &text, int root)> broadcast_text;
};

// What a fit tells its caller while it runs. Each may be empty. They are called on the
// thread that called fit; an exception thrown by one ends the fit and reaches the caller.
struct callbacks {
  std::function<void(const std::string &)> warning;  // a notice; the fit goes on
  std::function<void(const snapshot &)> on_snapshot;  // at every multiple of options.snapshot_every
  std::function<void(const progress &)> on_progress;
  // Once, after the initialization: the data as the fit sees them (centred and at unit length
  // where that applies), rows x cols.
  std::function<void(const double *values, std::size_t rows, std::size_t cols)> on_transformed_data;
  // Not null: the fit runs over these processes (the rows, snapshots and data passed to the
  // callbacks are then this process's share).
  const process_group *processes = nullptr;
};

// How well a model fits rows: the log-likelihood L = sum over the rows (in order) of
// log sum_k w_k N(x; mean_k, covariance_k), the rows as the fit sees them (centred, at unit
// length where that applies), at inverse temperature 1; p the free parameters; lower BIC, AIC
// and ICL are better.
struct fit_statistics {
  std::size_t data_points = 0;      // N
  double log_likelihood = 0.0;      // L
  double log_likelihood_per_point = 0.0;  // L / N
  long parameters = 0;              // p = (K - 1) + K F + K x (1, F or F (F + 1) / 2)
  double bic = 0.0;                 // -2 L + p ln N
  double aic = 0.0;                 // -2 L + 2 p
  double entropy = 0.0;             // -sum over rows of ln(posterior of the row's most probable class)
  double icl = 0.0;                 // BIC + 2 entropy
};

// One of the fits of options.restarts.
struct restart_record {
  int restart = 1;
  std::int32_t seed = 0;     // the random_seed it ran with
  bool failed = false;       // it ended in a numerical failure or a breakdown ...
  std::string failure;       // ... with this message
  double log_likelihood = 0.0;
  int steps = 0;
  bool converged = false;
};

// A fitted mixture.
struct model {
  covariance_kind covariance = covariance_kind::diagonal;
  metric distance = metric::euclidean;
  algorithm method = algorithm::em;
  int classes = 0;   // K in effect (options.classes, or N when that was larger)
  int features = 0;  // F
  std::vector<double> weights;      // K
  std::vector<double> means;        // K x F
  // scalar: K variances; diagonal: K x F; full: K x F x F (class, row, column).
  std::vector<double> covariances;
  std::vector<double> centre;       // F values subtracted from every row first; empty when not centred
  bool unit_length = false;         // rows scaled to unit length after centring (correlation)
  double inverse_temperature = 1.0; // the exponent of the last E-step: 1 for plain EM
  int steps = 0;                    // EM steps run, over all annealing stages
  bool converged = false;           // the stop rule was met (else the budget ran out)
  // Training rows only: each row's class 0..K-1 from the posteriors of the E-step before the last
  // update (the program's labels file), and the posteriors of the final model, class first:
  // posteriors[k * rows + i]. predict gives the argmax of the latter.
  std::vector<int> labels;
  std::vector<double> posteriors;
  // Training rows: how well the final model fits them.
  fit_statistics statistics;
  // Every fit that ran (one without restarts), and which of them this model is (1-based).
  std::vector<restart_record> restarts;
  int chosen_restart = 1;

  // The variance of feature j in class k, for any covariance kind.
  double feature_variance(int k, int j) const;
};

// The free parameters of a mixture of `classes` classes of this kind on `features` features.
long free_parameters(covariance_kind kind, int classes, int features);

// The seed of restart r (1-based): random_seed itself for r = 1, then seeds derived from it
// (a 64-bit mix of random_seed and r, taken into 1 .. 2^31 - 1), so restart r alone can be
// rerun with that random_seed.
std::int32_t restart_seed(std::int32_t random_seed, int restart);

// Fits a mixture to the rows of data. The caller's values are not changed: where centring or
// unit length apply, the fit works on a copy. Throws error: invalid_input for empty data, a
// value that is not finite, a row of length zero under the correlation metric, settings that
// cannot run (a means file that is missing or short, samples below 1, mixture_of_t, an
// annealing schedule that never cools to 1); numerical_failure when memory runs out or a
// covariance cannot be factorised; breakdown when the weights, means, variances or final
// posteriors become not-a-number (coinciding initial means, values so large or small that
// squared distances overflow), naming the EM step.
model fit(matrix_view data, const options &settings, const callbacks &hooks = {});

// As fit, but the transformations work in the caller's buffer, which afterwards holds the
// data as the fit saw them; saves the copy for large data.
model fit_in_place(double *values, std::size_t rows, std::size_t cols, const options &settings,
                   const callbacks &hooks = {});

// Posteriors of new rows under the model, class first (result[k * rows + i]): the model's
// transformations are applied to a copy of the rows, the E-step runs at the model's inverse
// temperature. Throws error(invalid_input) when the rows have another number of features or
// a value that is not finite, error(numerical_failure) for a covariance that cannot be
// factorised. threads as in options.
std::vector<double> predict_proba(const model &fitted, matrix_view rows, int threads = 0);

// The most probable class 0..K-1 of each new row (ties to the lower class; a NaN never wins).
std::vector<int> predict(const model &fitted, matrix_view rows, int threads = 0);

// The log density log sum_k w_k N(x; mean_k, covariance_k) of each new row under the model, at
// inverse temperature 1, the model's transformations applied first. Throws as predict_proba.
std::vector<double> score_samples(const model &fitted, matrix_view rows, int threads = 0);

// Posteriors (as predict_proba), labels (as predict) and log densities (as score_samples) of
// new rows at once, for the cost of one pass (two for a model whose inverse temperature is not 1).
struct prediction {
  std::vector<double> posteriors;    // class first: [k * rows + i]
  std::vector<int> labels;           // 0..K-1
  std::vector<double> log_densities;
};
prediction predict_all(const model &fitted, matrix_view rows, int threads = 0);

// ---------------------------------------------------------------------------------------
// Choosing the number of classes and the covariance kind.

enum class criterion { bic, aic, icl };

struct selection_settings {
  int min_classes = 1, max_classes = 1;  // every class count min..max
  std::vector<covariance_kind> kinds;    // in this order; empty: options.covariance alone
  criterion by = criterion::bic;
};

// One candidate fit: classes x kind, with its restarts.
struct candidate {
  int classes = 0;
  covariance_kind covariance = covariance_kind::diagonal;
  bool failed = false;    // every restart failed ...
  std::string failure;    // ... the first one's message
  fit_statistics statistics;
  int steps = 0;
  bool converged = false;
};

struct selection {
  std::vector<candidate> candidates;  // kinds in the order given, classes ascending within a kind
  std::size_t chosen = 0;             // index of the best candidate
  model best;                         // its fitted model
};

// Fits every candidate (settings.classes and settings.covariance replaced by the candidate's)
// and keeps the one with the lowest criterion (ties: fewer parameters, then the earlier
// candidate). Candidates run side by side on the threads when the data are small enough (a
// fit each, on one thread), else one after another on every thread; the result is the same.
// A candidate whose restarts all fail is recorded as failed; throws the first candidate's error
// when all fail, and invalid_input for class bounds below 1 or in the wrong order. Class counts
// above the data's rows are fitted with the rows as the count, as fit does.
selection select_model(matrix_view data, const options &settings, const selection_settings &choice,
                       const callbacks &hooks = {});

// ---------------------------------------------------------------------------------------
// Saved models: one JSON document (format "mogem model", version 1) with the kind, metric,
// transformations, inverse temperature, weights, means, every covariance entry and the fit
// statistics, numbers in round-trip precision.

std::string model_to_json(const model &fitted);
// Refuses (error(invalid_input), naming `name` and the problem) text that is not such a
// document: not JSON, another format or version, a missing or mistyped field, sizes that do not
// agree, a value that is not finite, weights that are negative, a covariance that is not
// positive definite. Labels and posteriors of the training rows are not part of it.
model model_from_json(const std::string &text, const std::string &name);
// The file forms; the writer replaces the file whole or not at all (as the result writers),
// refusing (error(invalid_input)) a model with a value that is not finite.
void write_model_file(const std::string &path, const model &fitted);
model read_model_file(const std::string &path);

// ---------------------------------------------------------------------------------------
// The parameter file and the result files of the mogem program.

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
                                 // caller reads it into settings.start_model)
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
void write_labels(const std::string &path, const model &fitted);      // one class number 1..K per line
void write_means(const std::string &path, const model &fitted);
void write_variances(const std::string &path, const model &fitted);   // per-feature variances
void write_weights(const std::string &path, const model &fitted);
void write_posteriors(const std::string &path, const model &fitted);  // one line per row
// The data as the fit saw them: "%f", tab-separated, no line break after the last row.
void write_transformed_data(const std::string &path, const double *values, std::size_t rows, std::size_t cols);
// The summary of a run as JSON (format "mogem summary", version 1): what ran, the fit
// statistics and every restart of a fit; of a prediction, the rows' log-likelihood under the
// model read from model_name; of a selection, the chosen candidate's summary and the
// criterion. selection_table: one tab-separated line per candidate under a header line.
void write_fit_summary(const std::string &path, const model &fitted);
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
