#include "engine/model_starts.h"

#include "common/rand48.h"
#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/em_mstep.h"
#include "engine/kmeans.h"
#include "initializations/init_methods.h"

namespace mogem::detail {

namespace {

// Each row's K draws, in the order of the rows of all processes: this process's rows start
// after first x K draws.
void random_responsibilities(em_memory *m, rand48_stream &random) {
  const int N = m->datapoints, K = m->classes;
  random.skip(static_cast<std::uint64_t>(m->share.first) * static_cast<std::uint64_t>(K));
  for (int i = 1; i <= N; i++) {
    double sum = 0.0;
    for (int k = 1; k <= K; k++) sum += m->P_j_x[k][i] = random.next_unit();
    for (int k = 1; k <= K; k++) m->P_j_x[k][i] /= sum;
  }
}

// The class means at the centres, and P_j_x one-hot for each row's nearest centre.
void kmeans_responsibilities(em_memory *m, rand48_stream &random) {
  const int N = m->datapoints, K = m->classes;
  const kmeans_rows rows{m->data.get(), N, m->features, K, &m->share, m->threads};
  kmeans_plus_plus(rows, random, m->class_means.get());
  one_based_vector<int> labels(N > 0 ? N : 1, "allocation failure in the k-means start");
  const int budget = m->params->init_method == KMEANS ? m->params->kmeans_iterations : 0;
  lloyd(rows, m->class_means.get(), labels.get(), budget, m->params->kmeans_tol);
  for (int k = 1; k <= K; k++)
    for (int i = 1; i <= N; i++) m->P_j_x[k][i] = labels[i] == k ? 1.0 : 0.0;
}

}  // namespace

bool starts_from_responsibilities(int init_method) {
  return init_method == KMEANS || init_method == KMEANS_PLUS_PLUS || init_method == RANDOM_RESPONSIBILITIES;
}

void start_from_responsibilities(em_memory *m) {
  const int K = m->classes, F = m->features;
  rand48_stream random(m->generator_state);
  if (m->params->init_method == RANDOM_RESPONSIBILITIES) {
    random_responsibilities(m, random);
    for (int k = 1; k <= K; k++)
      for (int j = 1; j <= F; j++) m->class_means[k][j] = 0.0;
  } else {
    kmeans_responsibilities(m, random);
  }
  // The start of the means file from the centres, which the M-step then replaces for every
  // class with rows (and, for a kind whose classes share one covariance, replaces that).
  const covariance_kind_ops &kind = *m->kind;
  for (int k = 1; k <= K; k++) {
    const double closest = find_closest(k, m);
    kind.set_spherical(m->class_variances, k, F, closest > 0.0 ? closest : 1.0);
    m->P_j[k] = 0.0;
  }
  kind.m_step(m);
  regularise_variances(m);
}

}  // namespace mogem::detail
