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
#include "engine/failures.h"
#include "engine/fit_checks.h"
#include "engine/holes.h"
#include "engine/best_fit.h"
#include "engine/kernels/parallel.h"
#include "engine/names.h"
#include "engine/parameters.h"
#include "engine/model_state.h"
#include "engine/processes.h"
#include "engine/run.h"
#include "initializations/init_methods.h"
#include "mogem/mogem.h"
#include "mogem/processes.h"
#include "normalizations/norm_data.h"
#include "nr/nr_util.h"

namespace mogem {

namespace {

using namespace detail;

struct release_state {
  void operator()(em_memory *m) const { release_em_memory(m); }
};
using state_ptr = std::unique_ptr<em_memory, release_state>;

// allocate_em_memory, with memory that cannot be had told in sizes and remedies.
em_memory *state_or_failure_in_words(em_parameters &p, double *rows, bool predicting) {
  try {
    return allocate_em_memory(&p, rows);
  } catch (const error &cause) {
    if (cause.what_kind() != error::kind::numerical_failure) throw;
    throw_beyond_memory(p, rows == nullptr, predicting, cause);
  }
}

// The fit out of the model state; the posteriors move without a copy.
fit_result result_of(em_memory *m, const options &o) {
  const int K = m->classes, F = m->features, N = m->datapoints;
  const covariance_kind_ops &ops = *m->kind;
  fit_result out;
  model &fitted = out.model;
  fitted.kind = o.covariance;
  fitted.distance = o.distance;
  fitted.method = o.method;
  fitted.classes = K;
  fitted.features = F;
  fitted.weights.assign(&m->P_j[1], &m->P_j[1] + K);
  fitted.means.assign(&m->class_means[1][1], &m->class_means[1][1] + static_cast<long>(K) * F);
  const long per_class = ops.values_per_class(F);
  fitted.covariances.resize(static_cast<std::size_t>(model_values(ops, K, F)));
  for (int k = 1; k <= K; k++)
    for (long e = 0; e < per_class; e++)
      fitted.covariances[ops.model_offset(k, F) + e] = ops.value(m->class_variances, k, F, e);
  if (!m->centre.empty()) fitted.centre.assign(&m->centre[1], &m->centre[1] + F);
  fitted.unit_length = need_norm(m) != 0;
  fitted.inverse_temperature = m->inv_temp;
  fitted.steps = m->steps;
  fitted.converged = m->converged;
  fitted.stopped_by = !m->converged ? "budget" : m->stopped_by_loglik ? "loglik" : "weights";
  fitted.last_change = m->last_change;
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
fit_statistics statistics_of(const std::vector<double> &log_density, const fit_result &fitted,
                             const row_share &share) {
  const std::size_t n = log_density.size();
  const std::size_t N = static_cast<std::size_t>(share.total);
  const model &m = fitted.model;
  fit_statistics s;
  s.data_points = N;
  sum_over_processes(
      share, 1, [&](int) { return std::vector<sum_span>{{&s.log_likelihood, 1}, {&s.entropy, 1}}; },
      [&](int) {
        for (std::size_t i = 0; i < n; i++) s.log_likelihood += log_density[i];
        for (std::size_t i = 0; i < n; i++) {
          const double *row = fitted.posteriors.data() + i;
          s.entropy -= std::log(row[most_probable(row, m.classes, n) * n]);
        }
      });
  s.log_likelihood_per_point = s.log_likelihood / static_cast<double>(N);
  s.parameters = free_parameters(m.kind, m.classes, m.features);
  const double p = static_cast<double>(s.parameters);
  s.bic = -2.0 * s.log_likelihood + p * std::log(static_cast<double>(N));
  s.aic = -2.0 * s.log_likelihood + 2.0 * p;
  s.icl = s.bic + 2.0 * s.entropy;
  return s;
}

// Below this effective weight (the rows' posteriors of a class summed) a class holds no row
// in any sense that matters: a millionth of a row.
constexpr double NO_WEIGHT = 1e-6;

// Classes whose effective weight is below NO_WEIGHT (those of weight 0 kept their model).
int classes_without_weight(const em_memory *m) {
  int count = 0;
  for (int k = 1; k <= m->classes; k++) count += !(m->P_j[k] * static_cast<double>(m->share.total) >= NO_WEIGHT);
  return count;
}

// With reg_covar (where data with fewer groups than classes fit at all), the kept fit's classes
// without weight, once.
void warn_of_empty_classes(const model &fitted, const options &o, const callbacks &hooks) {
  const int empty = fitted.statistics.classes_without_weight;
  if (empty == 0 || !(o.reg_covar > 0.0) || !hooks.warning) return;
  hooks.warning(std::to_string(empty) + " of " + std::to_string(fitted.classes) +
                " classes carry no weight (the posteriors of all rows sum to less than a millionth of a row for each): "
                "the data hold fewer distinct groups than classes; choose fewer classes");
}

// One fit. values: the caller's rows; writable when the transformations may work in them.
fit_result fit_once(const double *values, double *writable, std::size_t rows, std::size_t cols, const options &o,
                    const callbacks &hooks, int restart, const row_share &share) {
  const std::size_t all_rows = static_cast<std::size_t>(share.total);
  em_parameters p = parameters_of(o, rows, cols);
  // Every class-indexed container is sized for the classes in effect, so a class count far
  // beyond the data asks for no more memory than the data hold.
  if (static_cast<std::size_t>(p.num_classes) > all_rows) {
    if (hooks.warning) hooks.warning("WARNING: Number of classes exceeds datapoints. Adjusting");
    p.num_classes = static_cast<int>(all_rows);
  }
  // The start fills the holes in the rows it works on: never in the caller's read-only rows.
  const bool holes_here = o.missing == missing_values::em &&
                          std::any_of(values, values + rows * cols, [](double v) { return std::isnan(v); });
  const bool transforms = o.center || o.distance == metric::correlation || holes_here;
  double *rows_in_place = writable ? writable : transforms ? nullptr : const_cast<double *>(values);
  state_ptr m;
  together(share, [&] { m.reset(state_or_failure_in_words(p, rows_in_place, false)); });
  if (!rows_in_place && rows > 0) std::memcpy(&m->data[1][1], values, rows * cols * sizeof(double));
  m->share = share;
  // Holes on any process send every process down the paths with holes.
  if (o.missing == missing_values::em && data_have_holes(m.get()))
    together(share, [&] { m->holes = std::make_shared<hole_state>(holes_of(m.get())); });
  m->threads = threads_for(o.threads);
  m->hooks = &hooks;
  const auto *start = std::get_if<std::shared_ptr<const model>>(&o.start);
  m->start = start ? start->get() : nullptr;
  m->restart = restart;
  std::vector<double> log_density(rows);
  m->log_density = log_density.data();
  run(m.get());
  fit_result fitted = result_of(m.get(), o);
  fit_statistics &s = fitted.model.statistics = statistics_of(log_density, fitted, share);
  s.variances_at_floor = m->at_floor.held;
  s.variances_total = m->at_floor.seen;
  s.classes_without_weight = classes_without_weight(m.get());
  return fitted;
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

restart_record failure_record(const error &failure, int restart, std::int32_t seed) {
  restart_record r;
  r.restart = restart;
  r.seed = seed;
  r.failed = true;
  r.failure = failure.what();
  r.failure_has_own_heading = failure.has_own_heading();
  r.failure_in_file_terms = failure.in_file_terms();
  return r;
}

// Whether restart a beats restart b: the higher log-likelihood (a NaN never wins but loses to
// any number), ties to the earlier.
bool better_restart(const fit_result &a, int ia, const fit_result &b, int ib) {
  const double la = a.model.statistics.log_likelihood, lb = b.model.statistics.log_likelihood;
  if (std::isnan(la) != std::isnan(lb)) return std::isnan(lb);
  if (!std::isnan(la) && la != lb) return la > lb;
  return ia < ib;
}

// Warnings given once over every restart: later restarts meet the same notices.
std::function<void(const std::string &)> once_each(const callbacks &hooks, std::vector<std::string> &warned) {
  if (!hooks.warning) return nullptr;
  return [&hooks, &warned](const std::string &text) {
    if (std::find(warned.begin(), warned.end(), text) != warned.end()) return;
    warned.push_back(text);
    hooks.warning(text);
  };
}

// Every restart, one after another on all the threads; the best kept. Restarts after the
// first see no on_transformed_data (the data are the same) and no warning already given.
fit_result fit_restarts(const double *values, double *writable, std::size_t rows, std::size_t cols,
                        const options &o, const callbacks &hooks, const row_share &share) {
  std::vector<std::string> warned;
  callbacks quiet = hooks;
  quiet.on_transformed_data = nullptr;
  quiet.warning = once_each(hooks, warned);
  best_of_fits best(better_restart);
  std::vector<restart_record> records;
  for (int r = 1; r <= o.restarts; r++) {
    options one = o;
    one.restarts = 1;
    one.random_seed = restart_seed(o.random_seed, r);
    // The transformations may work in the caller's rows only in the last fit: the others need
    // the rows as given.
    double *in_place = r == o.restarts ? writable : nullptr;
    callbacks each = quiet;
    if (r == 1) each.on_transformed_data = hooks.on_transformed_data;
    attempt(
        [&] {
          fit_result fitted = fit_once(values, in_place, rows, cols, one, each, r, share);
          records.push_back(record_of(fitted.model, r, one.random_seed));
          best.offer(r, std::move(fitted));
        },
        [&](const error &failure) {
          records.push_back(failure_record(failure, r, one.random_seed));
          best.failed(r, failure);
        });
  }
  const int chosen = best.chosen();
  fit_result out = best.take();
  out.restarts = std::move(records);
  out.chosen_restart = chosen;
  return out;
}

fit_result fit_rows(const double *values, double *writable, std::size_t rows, std::size_t cols, const options &o,
                    const callbacks &hooks) {
  const row_share share = share_of(hooks.processes, static_cast<long long>(rows));
  check_shape(static_cast<std::size_t>(share.total), cols, "the data");
  if (!values && rows > 0) refuse("no data were given");
  const std::string name = o.data_name.empty() ? "the data" : "the data of " + o.data_name;
  const bool holes_allowed = o.missing == missing_values::em;
  together(share,
           [&] { check_finite(values, rows, cols, name, static_cast<std::size_t>(share.first), holes_allowed); });
  check_settings(o, cols);
  fit_result fitted;
  if (o.restarts > 1) {
    fitted = fit_restarts(values, writable, rows, cols, o, hooks, share);
  } else {
    fitted = fit_once(values, writable, rows, cols, o, hooks, 1, share);
    fitted.restarts = {record_of(fitted.model, 1, o.random_seed)};
  }
  warn_of_empty_classes(fitted.model, o, hooks);
  return fitted;
}

// A model state holding the model's parameters and the rows transformed as the fit's were.
// missing: whether a NaN in the rows is a missing value (the state then has its holes).
state_ptr state_for(const model &fitted, em_parameters &p, matrix_view rows, int threads, missing_values missing) {
  check_shape(rows.rows, rows.cols, "the rows to predict");
  if (!rows.values) refuse("no rows to predict were given");
  if (rows.cols != static_cast<std::size_t>(fitted.features))
    refuse("the rows to predict have %zu features; the model was fitted to %d", rows.cols,
                 fitted.features);
  const bool holes_allowed = missing == missing_values::em;
  check_finite(rows.values, rows.rows, rows.cols, "the rows to predict", 0, holes_allowed);
  options o;
  o.classes = fitted.classes;
  o.covariance = fitted.kind;
  o.distance = fitted.unit_length ? metric::correlation : metric::euclidean;
  p = parameters_of(o, rows.rows, rows.cols);
  const bool transforms = !fitted.centre.empty() || fitted.unit_length;
  state_ptr m(state_or_failure_in_words(p, transforms ? nullptr : const_cast<double *>(rows.values), true));
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
    for (long e = 0; e < per_class; e++) ops.value(m->class_variances, k, F, e) = fitted.covariances[ops.model_offset(k, F) + e];
  }
  m->inv_temp = fitted.inverse_temperature;
  if (holes_allowed && data_have_holes(m.get())) {
    if (fitted.unit_length)
      refuse("the rows to predict have missing values, and the model was fitted with the correlation metric: it "
             "rescales each row to unit length, which a row with missing values does not have; fill the holes first");
    m->holes = std::make_shared<hole_state>(holes_of(m.get()));
  }
  m->threads = threads_for(threads);
  m->estep = estep_purpose::prediction;
  return m;
}

}  // namespace

bool is_random(initialization init) {
  return init == initialization::random_means || init == initialization::random_point ||
         init == initialization::random_range || init == initialization::random_sample ||
         init == initialization::kmeans || init == initialization::kmeans_plus_plus ||
         init == initialization::random_responsibilities || init == initialization::random_from_data;
}

long free_parameters(covariance_kind kind, int classes, int features) {
  const long K = classes, F = features;
  return (K - 1) + K * F + kind_ops(kind_code(kind)).free_parameters(classes, features);
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
  return covariances[kind_ops(kind_code(kind)).feature_variance_index(k, j, features)];
}

double model::covariance(int k, int r, int c) const {
  if (r == c) return feature_variance(k, r);
  const covariance_kind_ops &ops = kind_ops(kind_code(kind));
  const long F = features;
  if (ops.values_per_class(features) != F * F) return 0.0;  // no covariance between features in this kind
  return covariances[static_cast<std::size_t>(ops.model_offset(k + 1, features) + r * F + c)];
}

fit_result fit(matrix_view data, const options &settings, const callbacks &hooks) {
  return fit_rows(data.values, nullptr, data.rows, data.cols, settings, hooks);
}

fit_result fit_in_place(double *values, std::size_t rows, std::size_t cols, const options &settings,
                        const callbacks &hooks) {
  return fit_rows(values, values, rows, cols, settings, hooks);
}

std::vector<double> predict_proba(const model &fitted, matrix_view rows, int threads, missing_values missing) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads, missing);
  find_P_j_x(m.get());
  return take_posteriors(m.get());
}

std::vector<int> predict(const model &fitted, matrix_view rows, int threads, missing_values missing) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads, missing);
  find_P_j_x(m.get());
  find_classifications(m.get());
  std::vector<int> labels(static_cast<std::size_t>(m->datapoints));
  for (int i = 1; i <= m->datapoints; i++) labels[i - 1] = m->classifications[i] - 1;
  return labels;
}

prediction predict_all(const model &fitted, matrix_view rows, int threads, missing_values missing) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads, missing);
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

std::vector<double> score_samples(const model &fitted, matrix_view rows, int threads, missing_values missing) {
  return predict_all(fitted, rows, threads, missing).log_densities;
}

std::vector<double> impute(const model &fitted, matrix_view rows, int threads) {
  em_parameters p;
  state_ptr m = state_for(fitted, p, rows, threads, missing_values::em);
  const std::size_t F = rows.cols;
  std::vector<double> out(rows.values, rows.values + rows.rows * F);
  if (!m->holes) return out;
  find_P_j_x(m.get());
  std::vector<double> expected(out.size());
  fill_holes_by_expectation(m.get(), expected.data());
  // Only the holes take the expectations, back in the caller's units; observed values stay the
  // caller's bits.
  for (std::size_t e = 0; e < out.size(); e++)
    if (std::isnan(out[e])) out[e] = fitted.centre.empty() ? expected[e] : expected[e] + fitted.centre[e % F];
  return out;
}

}  // namespace mogem
