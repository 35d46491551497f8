// Plain EM for a mixture of Gaussians.
#ifndef MOGEM_ENGINE_EM_H
#define MOGEM_ENGINE_EM_H

#include "engine/em_types.h"

// Fits the mixture to m->data with plain EM and leaves the fitted model (weights, means,
// variances) and the posteriors of the last E-step in m.
void em(em_memory *m);

// E-step: posterior of every class for every data point under the current model, into P_j_x.
void find_P_j_x(em_memory *m);

#endif
