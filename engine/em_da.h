// Deterministic-annealing EM for a mixture of Gaussians.
#ifndef MOGEM_ENGINE_EM_DA_H
#define MOGEM_ENGINE_EM_DA_H

#include "engine/em_types.h"

// Fits the mixture with annealing EM: one class at a high temperature, classes split one at
// a time while the temperature falls; on return m->classes is the requested count again.
void em_da(em_memory *m);

#endif
