// The EM iterations are not part of this build yet. Until they are, both algorithms choose the
// initial means as a full run does (centring, the configured initialization, unit-length rows
// under the correlation metric) and then leave the rest of the model at a neutral start, so
// that a run ends with defined, reproducible results: equal weights 1/K, uniform posteriors
// 1/K (every point is labelled 1), zero variances. This file goes away when the engine lands.
#include "distances/metric_codes.h"
#include "engine/em.h"
#include "engine/em_da.h"
#include "initializations/init_means.h"
#include "normalizations/norm_data.h"

void em(em_memory *m) {
  em_parameters *p = m->params;
  const int N = m->datapoints, F = m->features, K = m->classes;
  if (p->center_data) norm_data(m->data, N, F, MEAN_NORM, 0.0);
  init_means(m->data, m->class_means, N, F, K, p->init_method, p->random_seed, p->samples, p->means_file);
  if (m->distance_metric == CORRELATION) {
    norm_data(m->data, N, F, EUCLIDEAN_NORM, 0.0);
    norm_data(m->class_means, K, F, EUCLIDEAN_NORM, 0.0);
  }
  for (int k = 1; k <= K; k++) {
    m->P_j[k] = 1.0 / K;
    for (int i = 1; i <= N; i++) m->P_j_x[k][i] = 1.0 / K;
    switch (p->em_type) {
      case SCALAR: m->class_variances.scalar[k] = 0.0; break;
      case DIAG:
        for (int j = 1; j <= F; j++) m->class_variances.diagonal[k][j] = 0.0;
        break;
      case FULL:
        for (int r = 1; r <= F; r++)
          for (int s = 1; s <= F; s++) m->class_variances.full[k][r][s] = 0.0;
        break;
      default: break;
    }
  }
}

void em_da(em_memory *m) { em(m); }

// The posteriors stay those of the neutral start.
void find_P_j_x(em_memory *) {}
