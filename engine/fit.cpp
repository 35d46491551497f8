// The library's fit and prediction (mogem/mogem.h) over the engine's model state.
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

int kind_code(covariance_kind kind) {
  switch (kind) {
    case covariance_kind::scalar: return SCALAR;
    case covariance_kind::diagonal: return DIAG;
    case covariance_kind::full: break;
  }
  return FULL;
}

int algorithm_code(algorithm method) {
  switch (method) {
    case algorithm::em: return ALGORITHM_EM;
    case algorithm::annealing: return ALGORITHM_DA_EM;
    case algorithm::mixture_of_t: break;
  }
  return ALGORITHM_EM_MOT;
}

int init_code(initialization init) {
  switch (init) {
    case initialization::church_means: return CHURCH_MEANS;
    case initialization::random_means: return RANDOM_MEANS;
    case initialization::random_point: return RANDOM_POINT;
    case initialization::random_range: return RANDOM_RANGE;
    case initialization::random_sample: return RANDOM_SAMPLE;
    case initialization::means_file: break;
  }
  return FROM_FILE;
}

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

em_parameters parameters_of(const options &o, std::size_t rows, std::size_t cols) {
  em_parameters p{};
  p.num_data = static_cast<int>(rows);
  p.num_features = static_cast<int>(cols);
  p.num_classes = o.classes;
  p.random_seed = o.random_seed;
  p.max_em_iterations = o.max_iterations;
  p.algorithm = algorithm_code(o.method);
  p.distance_metric = o.distance == metric::correlation ? CORRELATION : EUCLIDEAN;
  p.center_data = o.center ? 1 : 0;
  p.schedule_scalar = o.schedule_scalar;
  p.init_temp = o.init_temp;
  p.samples = o.samples;
  p.t = 1.0;
  p.init_method = init_code(o.init);
  p.em_type = kind_code(o.covariance);
  p.output_stepsize = o.snapshot_every;
  p.means_file = o.means_file;
  return p;
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
  out.weights.assign(m->P_j + 1, m->P_j + 1 + K);
  out.means.assign(&m->class_means[1][1], &m->class_means[1][1] + static_cast<long>(K) * F);
  const long per_class = ops.values_per_class(F);
  out.covariances.resize(static_cast<std::size_t>(K * per_class));
  for (int k = 1; k <= K; k++)
    for (long e = 0; e < per_class; e++) out.covariances[(k - 1) * per_class + e] = ops.value(m->class_variances, k, F, e);
  if (m->centre) out.centre.assign(m->centre + 1, m->centre + 1 + F);
  out.unit_length = need_norm(m) != 0;
  out.inverse_temperature = m->inv_temp;
  out.steps = m->steps;
  out.converged = m->converged;
  out.labels.resize(static_cast<std::size_t>(N));
  for (int i = 1; i <= N; i++) out.labels[i - 1] = m->classifications[i] - 1;
  out.posteriors = take_posteriors(m);
  return out;
}

// values: the caller's rows (this process's share when hooks.processes is set); writable when
// the transformations may work in them.
model fit_rows(const double *values, double *writable, std::size_t rows, std::size_t cols, const options &o,
               const callbacks &hooks) {
  const row_share share = share_of(hooks.processes, static_cast<long long>(rows));
  const std::size_t all_rows = static_cast<std::size_t>(share.total);
  check_shape(all_rows, cols, "the data");
  if (!values && rows > 0) refuse_input("Error: no data were given");
  const std::string name = o.data_name.empty() ? "the data" : "the data of " + o.data_name;
  together(share, [&] { check_finite(values, rows, cols, name, static_cast<std::size_t>(share.first)); });
  if (o.classes < 1) refuse_input("Error: the number of classes is %d; it must be at least 1", o.classes);

  em_parameters p = parameters_of(o, rows, cols);
  p.data_name = name;
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
  run(m.get());
  return model_of(m.get(), o);
}

// A model state holding the model's parameters and the rows transformed as the fit's were.
state_ptr state_for(const model &fitted, em_parameters &p, matrix_view rows, int threads) {
  check_shape(rows.rows, rows.cols, "the rows to predict");
  if (!rows.values) refuse_input("Error: no rows to predict were given");
  if (rows.cols != static_cast<std::size_t>(fitted.features))
    refuse_input("Error: the rows to predict have %zu features; the model was fitted to %d", rows.cols,
                 fitted.features);
  check_finite(rows.values, rows.rows, rows.cols, "the rows to predict");
  p = em_parameters{};
  p.num_data = static_cast<int>(rows.rows);
  p.num_features = fitted.features;
  p.num_classes = fitted.classes;
  p.em_type = kind_code(fitted.covariance);
  p.distance_metric = fitted.unit_length ? CORRELATION : EUCLIDEAN;
  const bool transforms = !fitted.centre.empty() || fitted.unit_length;
  state_ptr m(allocate_em_memory(&p, transforms ? nullptr : const_cast<double *>(rows.values)));
  const int N = m->datapoints, F = m->features, K = m->classes;
  if (transforms) {
    std::memcpy(&m->data[1][1], rows.values, rows.rows * rows.cols * sizeof(double));
    if (!fitted.centre.empty()) subtract_from_rows(m->data, N, F, fitted.centre.data() - 1);
    if (fitted.unit_length) euclidean_norm(m->data, N, F);
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
  set_covariance_operations(m.get());
  return m;
}

}  // namespace

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

}  // namespace mogem
