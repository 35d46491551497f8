// mogem: mixtures of Gaussians fitted to the rows of a numeric matrix by EM or annealing EM.
//
// Fits, predictions and the choice of a model. A fit takes a view of the caller's row-major
// doubles and an options record and returns a fit_result: the model (weights, means and
// covariances of the chosen kind, the transformations applied to the data, the steps run and
// the fit statistics) and what only the training rows have (each row's label and posteriors,
// the restarts). The model labels new rows (predict, predict_proba). The program's files are
// in mogem/files.h, fits over several processes in mogem/processes.h.
//
// Conventions: rows i = 0..N-1, features j = 0..F-1, classes k = 0..K-1; matrices are
// row-major. Results are exact and reproducible: the same data and options give the same
// bits on every run and any thread count. The library never prints and never ends the
// process: problems come back as mogem::error, notices through the warning callback. It
// holds no mutable global state, so fits on several threads at once do not interfere.
#ifndef MOGEM_MOGEM_H
#define MOGEM_MOGEM_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace mogem {

// The one exception type of the library. what() is the message, one or more lines without a
// final line break and without a heading such as "Error: " (the caller adds its own), naming
// the file, options field, row or value concerned and the remedy where there is one.
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
  // The options field the message concerns ("restarts", "start"), empty when it concerns none.
  const std::string &setting() const noexcept { return setting_; }
  // The message in the words of the mogem program's parameter file: its keys where what()
  // names options fields ("num_restarts" for "restarts"). what() when the two agree.
  std::string in_file_terms() const { return file_text_.empty() ? std::string(what()) : file_text_; }
  // Whether the message carries a heading of its own (the parameter file's "Error in parameter
  // file ...", the numerical routines' texts): the program prints such a message as it is and
  // heads every other with "Error: ".
  bool has_own_heading() const noexcept { return own_heading_; }

  error &about(std::string setting, std::string in_file_terms) {
    setting_ = std::move(setting);
    file_text_ = std::move(in_file_terms);
    return *this;
  }
  error &with_own_heading() {
    own_heading_ = true;
    return *this;
  }

 private:
  kind kind_;
  std::string setting_, file_text_;
  bool own_heading_ = false;
};

// Covariance per class: one variance, one variance per feature, or a full matrix; or one full
// matrix shared by every class (tied).
enum class covariance_kind { scalar, diagonal, full, tied };

// Euclidean geometry, or correlation geometry: data rows and class means are scaled to unit
// length for the whole fit.
enum class metric { euclidean, correlation };

// Plain EM, or deterministic-annealing EM (one class at init_temp, cooled by schedule_scalar
// per stage, classes split until `classes` are reached at temperature 1). A mixture of t
// distributions is recognised but not available: fit refuses it.
enum class algorithm { em, annealing, mixture_of_t };

// How the initial means are chosen: the centroid, then the points farthest from the means so
// far; the means of a random partition; random data points; random points of the data's
// bounding box; averages of `samples` random points; or the start given in options::start:
// means read from a file, a whole model (weights, means, covariances: a warm start), or means
// at full precision (the rest of the start as for a means file).
// The starts from a whole model: kmeans (k-means++ centres, then Lloyd's iterations until no
// row changes class or kmeans_iterations ran) and kmeans_plus_plus (k-means++ centres, each row
// given to the nearest) give every class the weight, mean and covariance of its rows (an
// M-step from hard responsibilities; a class left without rows keeps its centre as mean, a
// spherical covariance as the file start's and weight 0); random_responsibilities draws
// uniform responsibilities per row, normalised, and runs the M-step on them; random_from_data
// takes distinct random rows as means, the rest as for a means file.
enum class initialization { church_means, random_means, random_point, random_range, random_sample, means_file,
                            saved_model, given_means, kmeans, kmeans_plus_plus, random_responsibilities,
                            random_from_data };

// What ends the EM loop before its budget: the weight changes of its last four steps summing
// below convergence_threshold, or the mean log-likelihood per row changing by less than tol
// between two steps (each step's E-step gives it, for one log per row).
enum class stop_rule { weights, loglik };

// What a missing value (a NaN in the data) means: an error that names its row and column
// (refuse), or a value the fit does without: EM on each row's observed values (em). Under em the
// E-step takes each class's marginal density over the row's observed features, the M-step the
// expected statistics of the missing ones given the observed, and the log-likelihood and the
// criteria are those of the observed values. Infinite values are refused either way; so are a
// row with no observed value, the correlation metric and annealing, under em.
enum class missing_values { refuse, em };

// Whether an initialization draws random numbers: only those give other fits from other seeds.
bool is_random(initialization init);

struct model;
struct process_group;  // mogem/processes.h

// A file of `classes` rows of F numbers: starting means read in single precision, as the
// program's means files are written.
struct means_file_start {
  std::string path;
};

// The one channel for a start the caller gives: nothing (the initialization draws it); means at
// full precision (`classes` rows of F, row-major; the first rows when the classes are lowered
// to the rows), for initialization::given_means; means from a file, for means_file; or a whole
// model (its classes, features and kind must be the fit's), for saved_model.
using start_point =
    std::variant<std::monostate, std::vector<double>, means_file_start, std::shared_ptr<const model>>;

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
  int snapshot_every = 0;                                // snapshot callback at every multiple of this step; 0 never
  int threads = 0;                                       // at most this many threads; 0: every core the process may use
  std::string data_name;                                 // the data's file, for messages; may be empty
  // Fits from this many seeds (restart_seed), the one with the highest final log-likelihood
  // kept (ties: the first). Above 1 only with a random initialization and without snapshots.
  int restarts = 1;
  // The EM loop stops when the weight changes of its last four steps sum to less than this.
  double convergence_threshold = 1e-6;
  // stop_rule::loglik: the EM loop stops when the mean log-likelihood per row (over the rows of
  // every process) changes by less than tol between two steps; convergence_threshold then plays
  // no part. Under annealing the rule holds per stage, on the stage's own objective (see
  // model::stopped_by). Must be 0 or more.
  stop_rule stop = stop_rule::weights;
  double tol = 1e-3;
  // stop_rule::loglik in plain EM: the objective the first step's change is taken from. A warm
  // start (a whole model of an earlier fit) passes that fit's last objective, so that a start
  // already at its optimum stops after one step; -infinity: the first step never stops.
  double start_objective = -HUGE_VAL;
  // Added to every variance (every covariance's diagonal) of a class after each variance
  // update, before any inversion; 0 leaves the arithmetic as it is. Must be 0 or more.
  double reg_covar = 0.0;
  // Every variance (every covariance's diagonal) is held at or above this after each variance
  // update, before reg_covar is added; 0 turns the floor off (a variance that rounding makes
  // negative is still held at 0). Must be 0 or more.
  double variance_floor = 0.001;
  // Lloyd's iterations of initialization::kmeans at most (0: the k-means++ centres' classes).
  int kmeans_iterations = 300;
  // Lloyd's iterations of initialization::kmeans also stop once the centres moved less than this
  // in an iteration: the sum over classes of the squared move of the centre, against kmeans_tol
  // times the mean variance of the features. 0 (the program's default): only when no row changes
  // class. Must be 0 or more.
  double kmeans_tol = 0.0;
  // NaN in the data: refused, or fitted by EM on the observed values (see missing_values).
  missing_values missing = missing_values::refuse;
  // The start of init means_file, saved_model or given_means (see start_point).
  start_point start;
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
  // stop_rule::loglik: the change of the mean log-likelihood per row the step's E-step measured
  // (infinite at a loop's first step); NaN under the weight rule.
  double loglik_change;
  bool annealing;
  double temperature;    // annealing only: the stage's temperature, its class count and the goal
  int classes, max_classes;
  // select_model with its candidates side by side: no fit reports; the caller's thread is told,
  // after each EM step of any candidate and when one finishes, how many are done (step and the
  // rest are then 0).
  int candidates_done, candidates;
  // stop_rule::loglik: the mean log-likelihood per row of the step's E-step (the stop rule's
  // objective, of the model before the step's update); NaN under the weight rule.
  double objective;
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
  // The variances (every covariance's diagonal; the tied kind's one shared diagonal) the last EM
  // step re-estimated, and how many of them it held at options.variance_floor: a face may warn when data in small units are
  // flattened onto the floor. Classes without weight keep their model and are not counted.
  long variances_at_floor = 0;
  long variances_total = 0;
  // Classes that carry no weight at the end of the fit: the posteriors of all rows sum to less
  // than a millionth of a row (those at exactly 0 kept the model they had when they emptied).
  // With reg_covar above 0 a fit that leaves such classes warns.
  int classes_without_weight = 0;
};

// One of the fits of options.restarts.
struct restart_record {
  int restart = 1;
  std::int32_t seed = 0;     // the random_seed it ran with
  bool failed = false;       // it ended in a numerical failure or a breakdown ...
  std::string failure;       // ... with this message (error::what())
  bool failure_has_own_heading = false;  // as error::has_own_heading()
  std::string failure_in_file_terms;     // as error::in_file_terms()
  double log_likelihood = 0.0;
  int steps = 0;
  bool converged = false;
};

// A fitted mixture.
struct model {
  covariance_kind kind = covariance_kind::diagonal;
  metric distance = metric::euclidean;
  algorithm method = algorithm::em;
  int classes = 0;   // K in effect (options.classes, or N when that was larger)
  int features = 0;  // F
  // The name of each feature (the columns of the data the model was fitted to), F of them; or
  // empty when the features are unnamed. fit leaves it empty: the face that read the columns
  // fills it. Kept with a saved model (in UTF-8: a byte that is not is saved as U+FFFD); it
  // plays no part in any result.
  std::vector<std::string> feature_names;
  std::vector<double> weights;      // K
  std::vector<double> means;        // K x F
  // scalar: K variances; diagonal: K x F; full: K x F x F (class, row, column); tied: F x F
  // (row, column), the one matrix every class shares.
  std::vector<double> covariances;
  std::vector<double> centre;       // F values subtracted from every row first; empty when not centred
  bool unit_length = false;         // rows scaled to unit length after centring (correlation)
  double inverse_temperature = 1.0; // the exponent of the last E-step: 1 for plain EM
  int steps = 0;                    // EM steps run, over all annealing stages
  bool converged = false;           // the stop rule was met (else the budget ran out)
  // What ended the (last stage's) EM loop: "weights" or "loglik" (the rule of options.stop), or
  // "budget". A model read from a file saved before this was recorded says "weights" or "budget".
  std::string stopped_by = "budget";
  // What the stop rule last measured (of the last stage's loop): the change of the mean
  // log-likelihood per row between the last two steps (infinite after one step), or the sum of
  // the last four weight changes. Not kept in a saved model (0 when read from one).
  double last_change = 0.0;
  // How the final model fits the training rows (kept with a saved model).
  fit_statistics statistics;

  // Entry (r, c) of class k's covariance matrix, for any covariance kind (0 off the diagonal
  // of the scalar and diagonal kinds).
  double covariance(int k, int r, int c) const;
  // The variance of feature j in class k: covariance(k, j, j).
  double feature_variance(int k, int j) const;
};

// A fit: the model, and what only the training rows have.
struct fit_result {
  mogem::model model;
  // Each training row's class 0..K-1 from the posteriors of the E-step before the last update
  // (the program's labels file), and the posteriors of the final model, class first:
  // posteriors[k * rows + i]. predict gives the argmax of the latter. Over several processes,
  // this process's rows.
  std::vector<int> labels;
  std::vector<double> posteriors;
  // Every fit that ran (one without restarts), and which of them the model is (1-based).
  std::vector<restart_record> restarts;
  int chosen_restart = 1;
};

// The free parameters of a mixture of `classes` classes of this kind on `features` features.
long free_parameters(covariance_kind kind, int classes, int features);

// The seed of restart r (1-based): random_seed itself for r = 1, then seeds derived from it
// (a 64-bit mix of random_seed and r, taken into 1 .. 2^31 - 1), so restart r alone can be
// rerun with that random_seed.
std::int32_t restart_seed(std::int32_t random_seed, int restart);

// Fits a mixture to the rows of data. The caller's values are not changed: where centring or
// unit length apply, the fit works on a copy. Under missing_values::em a NaN is a missing value:
// the start sees each filled with its feature's mean over the observed values (the centre, with
// center, is that mean too), and the fit is EM on the observed values (see missing_values).
// Throws error: invalid_input for empty data, a value that is not finite (under em: an infinite
// value, a row or a feature with no observed value, the correlation metric, annealing), a row
// of length zero under the correlation metric, settings that
// cannot run (a means file that is missing or short, samples below 1, mixture_of_t, an
// annealing schedule that never cools to 1); numerical_failure when memory runs out (naming
// the sizes against the machine's memory) or a covariance cannot be factorised (naming the
// class, the EM step and the likely cause); breakdown when the weights, means, variances or
// final posteriors become not-a-number (coinciding initial means, values so large or small that
// squared distances overflow; with reg_covar above 0 coinciding means start with that variance
// and fit), naming the EM step. Each says what to change in options fields; in_file_terms() is
// the program's text for the same failure. With reg_covar above 0, classes left without weight
// (more classes than the data hold groups) are warned of through callbacks.warning.
fit_result fit(matrix_view data, const options &settings, const callbacks &hooks = {});

// As fit, but the transformations work in the caller's buffer, which afterwards holds the
// data as the fit saw them; saves the copy for large data.
fit_result fit_in_place(double *values, std::size_t rows, std::size_t cols, const options &settings,
                        const callbacks &hooks = {});

// Posteriors of new rows under the model, class first (result[k * rows + i]): the model's
// transformations are applied to a copy of the rows, the E-step runs at the model's inverse
// temperature. Throws error(invalid_input) when the rows have another number of features or
// a value that is not finite (under missing_values::em a NaN is a missing value, and a row's
// posteriors come from the marginal densities of its observed features; a row with no observed
// value is refused), error(numerical_failure) for a covariance that cannot be factorised.
// threads as in options.
std::vector<double> predict_proba(const model &fitted, matrix_view rows, int threads = 0,
                                  missing_values missing = missing_values::refuse);

// The most probable class 0..K-1 of each new row (ties to the lower class; a NaN never wins).
std::vector<int> predict(const model &fitted, matrix_view rows, int threads = 0,
                         missing_values missing = missing_values::refuse);

// The log density log sum_k w_k N(x; mean_k, covariance_k) of each new row under the model, at
// inverse temperature 1, the model's transformations applied first (of the observed features
// only, for a row with missing values under missing_values::em). Throws as predict_proba.
std::vector<double> score_samples(const model &fitted, matrix_view rows, int threads = 0,
                                  missing_values missing = missing_values::refuse);

// Posteriors (as predict_proba), labels (as predict) and log densities (as score_samples) of
// new rows at once, for the cost of one pass (two for a model whose inverse temperature is not 1).
struct prediction {
  std::vector<double> posteriors;    // class first: [k * rows + i]
  std::vector<int> labels;           // 0..K-1
  std::vector<double> log_densities;
};
prediction predict_all(const model &fitted, matrix_view rows, int threads = 0,
                       missing_values missing = missing_values::refuse);

// The rows with every missing value (NaN) replaced by its expectation under the model given the
// row's observed values: sum over k of the row's posterior of class k (from its observed
// features) times class k's conditional mean of the missing features. Row-major, rows x F, in
// the units of the rows (the model's centring undone); observed values are copied unchanged.
// Throws as predict_proba under missing_values::em.
std::vector<double> impute(const model &fitted, matrix_view rows, int threads = 0);

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
  std::string failure;    // ... the first one's message (error::what())
  std::string failure_in_file_terms;  // ... and as error::in_file_terms()
  fit_statistics statistics;  // a failed candidate's: zero but for `parameters`
  int steps = 0;
  bool converged = false;
};

struct selection {
  std::vector<candidate> candidates;  // kinds in the order given, classes ascending within a kind
  std::size_t chosen = 0;             // index of the best candidate
  fit_result best;                    // its fit
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

}  // namespace mogem

#endif
