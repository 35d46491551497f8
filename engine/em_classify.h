// Hard classification from the posteriors.
#ifndef MOGEM_ENGINE_EM_CLASSIFY_H
#define MOGEM_ENGINE_EM_CLASSIFY_H

#include "engine/em_types.h"

// classifications[i] = the class k in 1..classes with the largest P_j_x[k][i]. Only a strictly
// larger posterior replaces the best so far, so ties go to the lowest class and a NaN never
// wins (a point whose class-1 posterior is NaN is labelled 1).
void find_classifications(em_memory *m);

#endif
