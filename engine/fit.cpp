// The library's fit and prediction (mogem/mogem.h) over the engine's model state.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "distances/metric_codes.h"
#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/em_estep.h"
#include "engine/kernels/parallel.h"
#include "engine/names.h"
#include "engine/parameters.h"
#include "engine/model_state.h"
#include "engine/processes.h"
#include "engine/run.h"
#include "initializations/init_methods.h"
#include "mogem/mogem.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"

namespace mogem {

namespace {

using namespace detail;

struct release_state {
  void operator()(em_memory *m) const { release_em_memory(m); }
};
using state_ptr = std::unique_ptr<em_memory, release_state>;

// Rows and columns the engine can index, and values to fit.
void check_shape(std::size_t rows, std::size_t cols, const char *what) {
  if (rows < 1 || cols < 1)
    refuse_input("Error: %s hold %zu rows of %zu values; at least one row of one value is needed", what, rows, cols);
  if (rows > static_cast<std::size_t>(INT_MAX) || cols > static_cast<std::size_t>(INT_MAX))
    refuse_input("Error: %s hold %zu rows of %zu values; at most %d of each can be fitted", what, rows, cols, INT_MAX);
}

// name: what the message calls the rows ("the data of in.txt"); first: the index, over all
// rows, of the first of these.
void check_finite(const double *values, std::size_t rows, std::size_t cols, const std::string &name,
                  std::size_t first = 0) {
  for (std::size_t i = 0; i < rows; i++) {
    for (std::size_t j = 0; j < cols; j++) {
      const double value = values[i * cols + j];
      if (std::isfinite(value)) continue;
      refuse_input("Error: %s hold %s at row %zu, column %zu; every value must be a finite number", name.c_str(),
                   std::isnan(value) ? "a NaN" : "an infinite value", first + i + 1, j + 1);
    }
  }
}

// The fitted model out of the model state; the posteriors move without a copy.
model model_of(em_memory *m, const options &o) {
  const int K = m->classes, F = m->features, N = m->datapoints;
  const covariance_kind_ops &ops = *m->kind;
  model out;
  out.covariance = o.covariance;
  out.distance = o.distance;
  out.method = o.method;
  out.classes = K;
  out.features = F;
  out.weights.assign(&m->P_j[1], &m->P_j[1] + K);
  out.means.assign(&m->class_means[1][1], &m->class_means[1][1] + static_cast<long>(K) * F);
  const long per_class = ops.values_per_class(F);
  out.covariances.resize(static_cast<std::size_t>(K * per_class));
  for (int k = 1; k <= K; k++)
    for (long e = 0; e < per_class; e++) out.covariances[(k - 1) * per_class + e] = ops.value(m->class_variances, k, F, e);
  if (!m->centre.empty()) out.centre.assign(&m->centre[1], &m->centre[1] + F);
  out.unit_length = need_norm(m) != 0;
  out.inverse_temperature = m->inv_temp;
  out.steps = m->steps;
  out.converged = m->converged;
  out.labels.resize(static_cast<std::size_t>(N));
  for (int i = 1; i <= N; i++) out.labels[i - 1] = m->classifications[i] - 1;
  out.posteriors = take_posteriors(m);
  return out;
}

// The index of the largest of K values v[k * stride] (ties to the lower class; NaN never wins).
int most_probable(const double *v, int K, std::size_t stride) {
  int best = 0;
  for (int k = 1; k < K; k++)
    if (v[k * stride] > v[best * stride]) best = k;
  return best;
}

// The statistics of the final model from each row's log density and the final posteriors
// (this process's rows; the two sums go on through the processes in row order).
fit_statistics statistics_of(const std::vector<double> &log_density, const model &fitted, const row_share &share) {
  const std::size_t n = log_density.size();
  const std::size_t N = static_cast<std::size_t>(share.total);
  fit_statistics s;
  s.data_points = N;
  sum_over_processes(
      share, 1, [&](int) { return std::vector<sum_span>{{&s.log_likelihood, 1}, {&s.entropy, 1}}; },
      [&](int) {
        for (std::size_t i = 0; i < n; i++) s.log_likelihood += log_density[i];
        for (std::size_t i = 0; i < n; i++) {
          const double *row = fitted.posteriors.data() + i;
          s.entropy -= std::log(row[most_probable(row, fitted.classes, n) * n]);
        }
      });
  s.log_likelihood_per_point = s.log_likelihood / static_cast<double>(N);
  s.parameters = free_parameters(fitted.covariance, fitted.classes, fitted.features);
  const double p = static_cast<double>(s.parameters);
  s.bic = -2.0 * s.log_likelihood + p * std::log(static_cast<double>(N));
  s.aic = -2.0 * s.log_likelihood + 2.0 * p;
  s.icl = s.bic + 2.0 * s.entropy;
  return s;
}

// Settings that no fit can run with, refused before any work.
void check_settings(const options &o) {
  if (o.classes < 1) refuse_input("Error: the number of classes is %d; it must be at least 1", o.classes);
  if (o.restarts < 1) refuse_input("Error: num_restarts is %d; it must be at least 1", o.restarts);
  if (!(o.reg_covar >= 0.0) || !std::isfinite(o.reg_covar))
    refuse_input("Error: reg_covar is %g; it must be a finite number of 0 or more", o.reg_covar);
  if (!(o.variance_floor >= 0.0) || !std::isfinite(o.variance_floor))
    refuse_input("Error: variance_floor is %g; it must be a finite number of 0 or more", o.variance_floor);
  if (!(o.convergence_threshold >= 0.0) || std::isnan(o.convergence_threshold))
    refuse_input("Error: convergence_threshold is %g; it must be 0 or more", o.convergence_threshold);
  if (o.restarts > 1 && !is_random(o.init))
    refuse_input("Error: num_restarts is %d, but this initialization draws no random numbers, so every restart "
                 "would give the same fit; choose random_means, random_point, random_range or random_sample, or "
                 "num_restarts 1", o.restarts);
  if (o.restarts > 1 && o.snapshot_every > 0)
    refuse_input("Error: snapshots (output_stepsize %d) follow one fit; with num_restarts %d there are several. Set "
                 "output_stepsize 0 or num_restarts 1", o.snapshot_every, o.restarts);
  if (o.init != initialization::saved_model) return;
  if (!o.start_model) refuse_input("Error: init_method model needs a model to start from (init_model)");
  const model &start = *o.start_model;
  if (o.method != algorithm::em)
    refuse_input("Error: init_method model starts plain EM from a saved model; annealing starts from one class. "
                 "Use algorithm em");
  if (start.classes != o.classes)
    refuse_input("Error: the starting model has %d classes; the fit asks for %d (num_clusters)", start.classes,
                 o.classes);
  if (start.covariance != o.covariance)
    refuse_input("Error: the starting model has %s covariances; the fit asks for %s (em_type)",
                 kind_name(start.covariance), kind_name(o.covariance));
  if (start.unit_length != (o.distance == metric::correlation))
    refuse_input("Error: the starting model was fitted with the %s metric; the fit asks for %s (distance_metric)",
                 start.unit_length ? "correlation" : "euclidean",
                 o.distance == metric::correlation ? "correlation" : "euclidean");
}

// The means of initialization::given_means: one row of finite values per class.
void check_given_means(const options &o, std::size_t cols) {
  const std::size_t needed = static_cast<std::size_t>(o.classes) * cols;
  if (o.initial_means.size() != needed)
    refuse_input("Error: the initial means hold %zu values; %zu are needed (%d classes x %zu features)",
                 o.initial_means.size(), needed, o.classes, cols);
  for (std::size_t e = 0; e < needed; e++)
    if (!std::isfinite(o.initial_means[e]))
      refuse_input("Error: the initial mean of class %zu, feature %zu is not a finite number", e / cols + 1,
                   e % cols + 1);
}

// One fit. values: the caller's rows; writable when the transformations may work in them.
model fit_once(const double *values, double *writable, std::size_t rows, std::size_t cols, const options &o,
               const callbacks &hooks, int restart, const row_share &share) {
  const std::size_t all_rows = static_cast<std::size_t>(share.total);
  em_parameters p = parameters_of(o, rows, cols);
  // Every class-indexed container is sized for the classes in effect, so a class count far
  // beyond the data asks for no more memory than the data hold.
  if (static_cast<std::size_t>(p.num_classes) > all_rows) {
    if (hooks.warning) hooks.warning("WARNING: Number of classes exceeds datapoints. Adjusting");
    p.num_classes = static_cast<int>(all_rows);
  }
  const bool transforms = o.center || o.distance == metric::correlation;
  double *rows_in_place = writable ? writable : transforms ? nullptr : const_cast<double *>(values);
  state_ptr m;
  together(share, [&] { m.reset(allocate_em_memory(&p, rows_in_place)); });
  if (!rows_in_place && rows > 0) std::memcpy(&m->data[1][1], values, rows * cols * sizeof(double));
  m->share = share;
  m->threads = threads_for(o.threads);
  m->hooks = &hooks;
  m->start = o.start_model.get();
  m->restart = restart;
  std::vector<double> log_density(rows);
  m->log_density = log_density.data();
  run(m.get());
  model fitted = model_of(m.get(), o);
  fitted.statistics = statistics_of(log_density, fitted, share);
  return fitted;
}

bool is_fit_failure(const error &failure) {
  return failure.what_kind() == error::kind::numerical_failure || failure.what_kind() == error::kind::breakdown;
}

restart_record record_of(const model &fitted, int restart, std::int32_t seed) {
  restart_record r;
  r.restart = restart;
  r.seed = seed;
  r.log_likelihood = fitted.statistics.log_likelihood;
  r.steps = fitted.steps;
  r.converged = fitted.converged;
  return r;
}

// Whether a fit of log-likelihood `challenger` replaces the best so far: higher wins, ties keep
// the first, a NaN never wins but loses to any number.
bool replaces(double challenger, double best) {
  if (std::isnan(challenger)) return false;
  return std::isnan(best) || challenger > best;
}

// Every restart, one after another on all the threads; the best kept. Restarts after the
// first see no on_transformed_data (the data are the same) and no warning already given.
model fit_rows(const double *values, double *writable, std::size_t rows, std::size_t cols, const options &o,
               const callbacks &hooks) {
  const row_share share = share_of(hooks.processes, static_cast<long long>(rows));
  check_shape(static_cast<std::size_t>(share.total), cols, "the data");
  if (!values && rows > 0) refuse_input("Error: no data were given");
  const std::string name = o.data_name.empty() ? "the data" : "the data of " + o.data_name;
  together(share, [&] { check_finite(values, rows, cols, name, static_cast<std::size_t>(share.first)); });
  check_settings(o);
  if (o.start_model && o.start_model->features != static_cast<int>(cols))
    refuse_input("Error: the starting model has %d features; the data have %zu", o.start_model->features, cols);
  if (o.init == initialization::given_means) check_given_means(o, cols);
  if (o.restarts == 1) {
    model fitted = fit_once(values, writable, rows, cols, o, hooks, 1, share);
    fitted.restarts = {record_of(fitted, 1, o.random_seed)};
    return fitted;
  }
  std::vector<std::string> warned;
  callbacks quiet = hooks;
  quiet.on_transformed_data = nullptr;
  if (hooks.warning)
    quiet.warning = [&](const std::string &text) {
      if (std::find(warned.begin(), warned.end(), text) != warned.end()) return;
      warned.push_back(text);
      hooks.warning(text);
    };
  model best;
  std::vector<restart_record> records;
  std::unique_ptr<error> first_failure;
  int chosen = 0;
  for (int r = 1; r <= o.restarts; r++) {
    options one = o;
    one.restarts = 1;
    one.random_seed = restart_seed(o.random_seed, r);
    // The transformations may work in the caller's rows only in the last fit: the others need
    // the rows as given.
    double *in_place = r == o.restarts ? writable : nullptr;
    callbacks each = quiet;
    if (r == 1) each.on_transformed_data = hooks.on_transformed_data;
    try {
      model fitted = fit_once(values, in_place, rows, cols, one, each, r, share);
      records.push_back(record_of(fitted, r, one.random_seed));
      if (chosen == 0 || replaces(fitted.statistics.log_likelihood, best.statistics.log_likelihood)) {
        best = std::move(fitted);
        chosen = r;
      }
    } catch (const error &failure) {
      if (!is_fit_failure(failure)) throw;
      restart_record failed;
      failed.restart = r;
      failed.seed = one.random_seed;
      failed.failed = true;
      failed.failure = failure.what();
      records.push_back(failed);
      if (!first_failure) first_failure = std::make_unique<error>(failure);
    }
  }
  if (chosen == 0) throw *first_failure;
  best.restarts = std::move(records);
  best.chosen_restart = chosen;
  return best;
}

// A model state holding the model's parameters and the rows transformed as the fit's were.
state_ptr state_for(const model &fitted, em_parameters &p, matrix_view rows, int threads) {
  check_shape(rows.rows, rows.cols, "the rows to predict");
  if (!rows.values) refuse_input("Error: no rows to predict were given");
  if (rows.cols != static_cast<std::size_t>(fitted.features))
    refuse_input("Error: the rows to predict have %zu features; the model was fitted to %d", rows.cols,
                 fitted.features);
  check_finite(rows.values, rows.rows, rows.cols, "the rows to predict");
  options o;
  o.classes = fitted.classes;
  o.covariance = fitted.covariance;
  o.distance = fitted.unit_length ? metric::correlation : metric::euclidean;
  p = parameters_of(o, rows.rows, rows.cols);
  const bool transforms = !fitted.centre.empty() || fitted.unit_length;
  state_ptr m(allocate_em_memory(&p, transforms ? nullptr : const_cast<double *>(rows.values)));
  const int N = m->datapoints, F = m->features, K = m->classes;
  if (transforms) {
    std::memcpy(&m->data[1][1], rows.values, rows.rows * rows.cols * sizeof(double));
    if (!fitted.centre.empty()) subtract_from_rows(m->data.get(), N, F, fitted.centre.data() - 1);
    if (fitted.unit_length) euclidean_norm(m->data.get(), N, F);
  }
  const covariance_kind_ops &ops = *m->kind;
  const long per_class = ops.values_per_class(F);
  for (int k = 1; k <= K; k++) {
    m->P_j[k] = fitted.weights[k - 1];
    for (int j = 1; j <= F; j++) m->class_means[k][j] = fitted.means[(k - 1) * F + (j - 1)];
    for (long e = 0; e < per_class; e++) ops.value(m->class_variances, k, F, e) = fitted.covariances[(k - 1) * per_class + e];
  }
  m->inv_temp = fitted.inverse_temperature;
  m->threads = threads_for(threads);
  return m;
}

}  // namespace

bool is_random(initialization init) {
  return init == initialization::random_means || init == initialization::random_point ||
         init == initialization::random_range || init == initialization::random_sample;
}

long free_parameters(covariance_kind kind, int classes, int features) {
  const long K = classes, F = features;
  return (K - 1) + K * F + K * kind_ops(kind_code(kind)).free_parameters(features);
}

std::int32_t restart_seed(std::int32_t random_seed, int restart) {
  if (restart <= 1) return random_seed;
  // splitmix64 of the seed and the restart number: neighbouring seeds and restarts give
  // unrelated streams.
  std::uint64_t z = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(random_seed)) << 32) |
                    static_cast<std::uint32_t>(restart);
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return static_cast<std::int32_t>(1 + z % 2147483646ULL);
}

double model::feature_variance(int k, int j) const {
  return covariances[kind_ops(kind_code(covariance)).feature_variance_index(k, j, features)];
}

model fit(matrix_view data, const options &settings, const callbacks &hooks) {
  return fit_rows(data.values, nullptr, data.rows, data.cols, settings, hooks);
}

model fit_in_place(double *values, std::size_t rows, std::size_t cols, const options &settings,
                   const callbacks &hooks) {
  return fit_rows(values, values, rows, cols, settings, hooks);
}

std::vector<double> predict_proba(const model &fitted, matrix_view rows, int threads) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads);
  find_P_j_x(m.get());
  return take_posteriors(m.get());
}

std::vector<int> predict(const model &fitted, matrix_view rows, int threads) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads);
  find_P_j_x(m.get());
  find_classifications(m.get());
  std::vector<int> labels(static_cast<std::size_t>(m->datapoints));
  for (int i = 1; i <= m->datapoints; i++) labels[i - 1] = m->classifications[i] - 1;
  return labels;
}

prediction predict_all(const model &fitted, matrix_view rows, int threads) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads);
  prediction out;
  out.log_densities.resize(rows.rows);
  m->log_density = out.log_densities.data();
  find_P_j_x_and_densities(m.get());
  find_classifications(m.get());
  out.labels.resize(rows.rows);
  for (int i = 1; i <= m->datapoints; i++) out.labels[i - 1] = m->classifications[i] - 1;
  out.posteriors = take_posteriors(m.get());
  return out;
}

std::vector<double> score_samples(const model &fitted, matrix_view rows, int threads) {
  return predict_all(fitted, rows, threads).log_densities;
}

}  // namespace mogem
