#include "engine/em_classify.h"

void find_classifications(em_memory *m) {
  for (int i = 1; i <= m->datapoints; i++) {
    int best = 1;
    double best_value = m->P_j_x[1][i];
    for (int k = 2; k <= m->classes; k++) {
      if (m->P_j_x[k][i] > best_value) {
        best = k;
        best_value = m->P_j_x[k][i];
      }
    }
    m->classifications[i] = best;
  }
}
