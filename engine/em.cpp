#include "engine/em.h"

#include <cmath>
#include <vector>

#include "engine/breakdown.h"
#include "engine/covariance_kinds.h"
#include "engine/em_classify.h"
#include "engine/em_mstep.h"
#include "engine/holes.h"
#include "engine/model_starts.h"
#include "initializations/init_means.h"
#include "initializations/init_methods.h"
#include "normalizations/norm_data.h"
#include "nr/one_based.h"

namespace mogem::detail {

namespace {

const int TRACE_LENGTH = 4;

// The caller's snapshot of step `step`: means, per-feature variances and the labels of the
// current posteriors (the classifications are the only model state this changes).
void take_snapshot(em_memory *m, int step) {
  const int K = m->classes, F = m->features, N = m->datapoints;
  one_based_matrix variances(K, F);
  class_variances(m, variances.get());
  find_classifications(m);
  std::vector<int> labels(N);
  for (int i = 1; i <= N; i++) labels[i - 1] = m->classifications[i] - 1;
  const snapshot at{step, K, F, &m->class_means[1][1], &variances.get()[1][1], labels.data(),
                    static_cast<std::size_t>(N)};
  m->hooks->on_snapshot(at);
}

bool wants_snapshots(const em_memory *m) { return m->hooks && m->hooks->on_snapshot; }

// The starting model of FROM_MODEL: weights, means and covariances as saved, at full precision.
void take_start_model(em_memory *m) {
  const model &start = *m->start;
  const int K = m->classes, F = m->features;
  const long per_class = m->kind->values_per_class(F);
  for (int k = 1; k <= K; k++) {
    m->P_j[k] = start.weights[k - 1];
    for (int j = 1; j <= F; j++) m->class_means[k][j] = start.means[(k - 1) * F + (j - 1)];
    for (long e = 0; e < per_class; e++)
      m->kind->value(m->class_variances, k, F, e) = start.covariances[m->kind->model_offset(k, F) + e];
  }
}

// The mean over the rows of every process of this process's values[0..N-1], summed in row
// order and on through the processes.
double mean_of_all(em_memory *m, const std::vector<double> &values) {
  double total = 0.0;
  sum_over_processes(
      m->share, 1, [&](int) { return std::vector<sum_span>{{&total, 1}}; },
      [&](int) {
        for (double v : values) total += v;
      });
  return total / static_cast<double>(m->share.total);
}

// The E-step; under the log-likelihood rule (rows given) with the mean over all rows of each
// row's log density (the stage's objective under annealing), else 0.
double estep_and_objective(em_memory *m, std::vector<double> *rows) {
  if (!rows) {
    find_P_j_x(m);
    return 0.0;
  }
  double *const caller = m->log_density;
  m->log_density = rows->data();
  find_P_j_x(m);
  m->log_density = caller;
  return mean_of_all(m, *rows);
}

}  // namespace

void regularise_variances(em_memory *m) {
  const double x = m->params->reg_covar;
  if (x == 0.0) return;
  for (int k = 1; k <= m->classes; k++)
    if (m->P_j[k] * static_cast<double>(m->share.total) != 0.0) m->kind->add_to_variances(m->class_variances, k, m->features, x);
}

void initialize_parameters(em_memory *m) {
  em_parameters *p = m->params;
  const int N = m->datapoints, F = m->features, K = m->classes;
  // With holes the start sees each filled with its feature's observed mean (holes.h), which
  // with center_data is also the centre.
  if (m->holes) {
    fill_holes_for_start(m);
  } else if (p->center_data) {
    column_means_over_processes(m->share, m->data.get(), m->datapoints, m->features, m->centre.get());
    subtract_from_rows(m->data.get(), N, F, m->centre.get());
  }
  if (need_norm(m)) together(m->share, [m] { refuse_zero_length_rows(m); });
  if (p->init_method == FROM_MODEL) {
    if (need_norm(m)) euclidean_norm(m->data.get(), N, F);
    take_start_model(m);
    for (int k = 1; k <= K; k++)
      for (int i = 1; i <= N; i++) m->P_j_x[k][i] = 1.0 / K;
  } else if (starts_from_responsibilities(p->init_method)) {
    if (need_norm(m)) euclidean_norm(m->data.get(), N, F);
    start_from_responsibilities(m);
  } else {
    if (p->init_method == GIVEN_MEANS)
      for (int k = 1; k <= K; k++)
        for (int j = 1; j <= F; j++) m->class_means[k][j] = p->given_means[static_cast<long>(k - 1) * F + (j - 1)];
    else
      init_means(m->data.get(), m->class_means.get(), N, F, K, p->init_method, m->generator_state, p->samples,
                 p->means_file.empty() ? nullptr : p->means_file.c_str(), m->share);
    if (need_norm(m)) {
      euclidean_norm(m->data.get(), N, F);
      euclidean_norm(m->class_means.get(), K, F);
    }
    for (int k = 1; k <= K; k++) {
      m->P_j[k] = 1.0 / K;
      for (int i = 1; i <= N; i++) m->P_j_x[k][i] = 1.0 / K;
      // reg_covar joins the start's variances as it joins every later one: a mean that
      // coincides with another then starts with a variance above 0.
      const double closest = find_closest(k, m);
      m->kind->set_spherical(m->class_variances, k, F, p->reg_covar > 0.0 ? closest + p->reg_covar : closest);
    }
  }
  if (m->holes) reopen_holes(m);
  if (m->hooks && m->hooks->on_transformed_data)
    m->hooks->on_transformed_data(&m->data[1][1], static_cast<std::size_t>(N), static_cast<std::size_t>(F));
}

int em_run(em_memory *m, int start_index, double previous_objective) {
  // The weight changes of the last four iterations, by step mod 4. The start values keep a
  // call from stopping before slots 1..3 hold real changes.
  double trace[TRACE_LENGTH] = {0.0, 10.0, 20.0, 30.0};
  const int iterations = m->params->max_em_iterations;
  const int step = wants_snapshots(m) ? m->params->output_stepsize : 0;
  const covariance_kind_ops &kind = *m->kind;

  // The log-likelihood rule needs an objective: none at exponent 0 (the first annealing stage,
  // whose posteriors are uniform whatever the model), where the weight rule holds.
  const bool loglik = m->params->loglik_rule && m->inv_temp > 0.0;
  std::vector<double> densities(loglik ? static_cast<std::size_t>(m->datapoints) : 0);
  double previous = previous_objective;

  m->converged = false;
  m->stopped_by_loglik = false;
  int i = start_index;
  while (i < start_index + iterations) {
    if (step > 0 && i % step == 0) take_snapshot(m, i);
    m->early.wanted = true;  // the M-step below follows this E-step
    const double objective = estep_and_objective(m, loglik ? &densities : nullptr);
    m->at_floor = floor_count{};
    const double delta = m->holes ? kind.m_step_with_holes(m) : kind.m_step(m);
    regularise_variances(m);
    stop_if_model_broke_down(m, i);
    m->steps++;
    trace[i % TRACE_LENGTH] = delta;
    const double sum = trace[0] + trace[1] + trace[2] + trace[3];
    m->last_change = loglik ? std::fabs(objective - previous) : sum;
    if (m->hooks && m->hooks->on_progress) {
      progress at = m->stage;
      at.restart = m->restart;
      at.step = i;
      at.weight_change = delta;
      at.objective = loglik ? objective : NAN;
      at.loglik_change = loglik ? objective - previous : NAN;
      m->hooks->on_progress(at);
    }
    // The first change is infinite, and one from or to an infinite objective not a number:
    // neither stops the loop.
    if (loglik ? std::fabs(objective - previous) < m->params->tol : sum < m->params->convergence_threshold) {
      m->converged = true;
      m->stopped_by_loglik = loglik;
      break;
    }
    previous = objective;
    i++;
  }
  if (step > 0 && i % step == 0) take_snapshot(m, i);
  return i;
}

void em(em_memory *m) {
  initialize_parameters(m);
  m->inv_temp = 1.0;
  em_run(m, 0, m->params->start_objective);
}

}  // namespace mogem::detail
