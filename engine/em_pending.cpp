// The EM iterations are not part of this build yet. Until they are, both algorithms leave the
// model at a neutral start, so that a run ends with defined, reproducible results instead of
// undefined memory: equal weights 1/K, uniform posteriors 1/K (every point is labelled 1),
// zero means and variances. This file goes away when the engine lands.
#include <cstring>

#include "engine/em.h"
#include "engine/em_da.h"

void em(em_memory *m) {
  const int N = m->datapoints, F = m->features, K = m->classes;
  for (int k = 1; k <= K; k++) {
    m->P_j[k] = 1.0 / K;
    for (int i = 1; i <= N; i++) m->P_j_x[k][i] = 1.0 / K;
    for (int j = 1; j <= F; j++) m->class_means[k][j] = 0.0;
    switch (m->params->em_type) {
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
