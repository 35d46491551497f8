#include "engine/em_da.h"

#include <cmath>
#include <cstdio>

#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/em_da_pc.h"
#include "nr/one_based.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

const double FINAL_TEMPERATURE = 1.0;
const double COINCIDENCE_FRACTION = 0.01;  // of each feature's variance
const double PUSH_FRACTION = 0.01;         // of the largest standard deviation
// Far more pushes than parting a pair ever takes (a few, rarely more than twenty).
const int MAX_FINAL_PUSHES = 1000;

// The temperature must fall to 1.0 or below for the driver to return.
void check_schedule(em_memory *m) {
  const double start = m->params->init_temp, alpha = m->params->schedule_scalar;
  if (start <= FINAL_TEMPERATURE) return;
  if (!std::isnan(start) && !std::isinf(start) && alpha > 0.0 && alpha < 1.0) return;
  refuse(
      "annealing from init_temp %g with schedule_scalar %g would never cool to %g; "
      "schedule_scalar must lie strictly between 0 and 1 when init_temp is above %g, and "
      "init_temp must be a finite number",
      start, alpha, FINAL_TEMPERATURE, FINAL_TEMPERATURE);
}

[[noreturn]] void refuse_warming(em_memory *m, double temperature) {
  refuse(
      "annealing from init_temp %g with schedule_scalar %g warmed to %g and would never cool to %g; "
      "schedule_scalar must lie strictly between 0 and 1",
      m->params->init_temp, m->params->schedule_scalar, temperature, FINAL_TEMPERATURE);
}

// Halves class `parent` into itself and class `twin`: weight, posteriors, mean and covariance.
void split_class(em_memory *m, int parent, int twin) {
  const int F = m->features;
  m->P_j[parent] = m->P_j[parent] * 0.5;
  m->P_j[twin] = m->P_j[parent];
  for (int x = 1; x <= m->datapoints; x++) {
    m->P_j_x[parent][x] = m->P_j_x[parent][x] * 0.5;
    m->P_j_x[twin][x] = m->P_j_x[parent][x];
  }
  for (int k = 1; k <= F; k++) m->class_means[twin][k] = m->class_means[parent][k];
  m->kind->copy_class(m->class_variances, parent, twin, F);
  m->classes = twin;
}

// perturbe(i, j), telling whether either mean moved. saved holds two rows of F values.
bool push_apart(em_memory *m, int i, int j, double **saved) {
  const int F = m->features;
  for (int k = 1; k <= F; k++) {
    saved[1][k] = m->class_means[i][k];
    saved[2][k] = m->class_means[j][k];
  }
  perturbe(i, j, m);
  for (int k = 1; k <= F; k++)
    if (saved[1][k] != m->class_means[i][k] || saved[2][k] != m->class_means[j][k]) return true;
  return false;
}

}  // namespace

void em_da(em_memory *m) {
  check_schedule(m);
  initialize_parameters(m);

  const int K_max = m->classes;
  one_based_matrix saved_means(2, m->features);
  int K = 1;
  double temperature = m->params->init_temp;
  const double alpha = m->params->schedule_scalar;
  m->inv_temp = 0.0;
  int current_step = 0;
  int final_pushes = 0;  // pushes in a row at or below the final temperature
  for (;;) {
    m->classes = K;
    bool change = false;
    m->stage.annealing = true;
    m->stage.temperature = temperature;
    m->stage.classes = K;
    m->stage.max_classes = K_max;
    current_step = em_run(m, current_step);

    int class1 = 0, class2 = 0;
    for (int i = 1; i <= K && class2 == 0; i++) {
      class2 = the_same(i, m);
      class1 = i;
    }
    // A pair whose push is lost in the rounding of its means can never be parted, and
    // pushing it again would go on for ever: the stage then goes on as if the pair were apart.
    // So does a pair still found after MAX_FINAL_PUSHES pushes in a row once the temperature
    // is down (pushes that move the means by too little to part them).
    bool apart = class2 == 0 || !push_apart(m, class1, class2, saved_means.get());
    if (!apart && temperature <= FINAL_TEMPERATURE && ++final_pushes > MAX_FINAL_PUSHES) apart = true;
    if (apart) {
      final_pushes = 0;
      if (K == K_max && temperature <= FINAL_TEMPERATURE) {
        m->classes = K_max;
        return;
      }
      if (K < K_max) {
        class1 = find_max_variance_cluster(m);
        split_class(m, class1, K + 1);
        perturbe(class1, K + 1, m);
        K = K + 1;
        change = true;
      }
    }
    if (!change) {
      m->inv_temp = 1.0 / temperature;
      temperature = temperature * alpha;
      // From at most 1 (a start the check lets through), a factor of 1 or more (or not a number)
      // can warm the schedule past 1, and then no stage would ever end the run: refused there, so
      // that every schedule that ends still gives its bytes.
      if (!(temperature <= FINAL_TEMPERATURE) && !(alpha < 1.0)) refuse_warming(m, temperature);
    }
  }
}

int the_same(int i, em_memory *m) {
  const int K = m->classes, F = m->features;
  one_based_matrix variances(K, F);
  class_variances(m, variances.get());
  double *const *var = variances.get();
  const double *mean_i = m->class_means[i];
  for (int j = 1; j <= K; j++) {
    if (j == i) continue;
    const double *mean_j = m->class_means[j];
    double dist = 0.0;
    for (int k = 1; k <= F; k++) {
      const double d = mean_i[k] - mean_j[k];
      dist += d * d;
    }
    bool same = true;
    for (int k = 1; k <= F && same; k++)
      same = dist < COINCIDENCE_FRACTION * var[i][k] && dist < COINCIDENCE_FRACTION * var[j][k];
    if (same) return j;
  }
  return 0;
}

int find_max_variance_cluster(em_memory *m) {
  const int K = m->classes, F = m->features;
  one_based_matrix variances(K, F);
  class_variances(m, variances.get());
  double max_trace = 0.0;
  int clust_num = 1;
  for (int i = 1; i <= K; i++) {
    double trace = 1.0;
    for (int k = 1; k <= F; k++) trace *= variances.get()[i][k];
    if (trace > max_trace) {
      max_trace = trace;
      clust_num = i;
    }
  }
  return clust_num;
}

void perturbe(int i, int j, em_memory *m) {
  const int K = m->classes, F = m->features;
  one_based_matrix eigenvectors(F, F);
  compute_pc(i, j, m, eigenvectors.get());
  double **u = eigenvectors.get();  // the direction is column 1
  double norm = 0.0;
  for (int k = 1; k <= F; k++) norm += u[k][1] * u[k][1];
  norm = std::sqrt(norm);
  for (int k = 1; k <= F; k++) u[k][1] = u[k][1] / norm;

  one_based_matrix variances(K, F);
  class_variances(m, variances.get());
  double maxvar = variances.get()[i][1];
  for (int k = 2; k <= F; k++)
    if (variances.get()[i][k] > maxvar) maxvar = variances.get()[i][k];
  const double delta = PUSH_FRACTION * std::sqrt(maxvar);
  for (int k = 1; k <= F; k++) {
    m->class_means[i][k] += delta * u[k][1];
    m->class_means[j][k] -= delta * u[k][1];
  }
}

}  // namespace mogem::detail
