// Fits that break down: a model that has become not-a-number, and data the correlation metric
// cannot scale. Both are refused instead of ending with every row in class 1 as if the fit
// had succeeded.
#ifndef MOGEM_ENGINE_BREAKDOWN_H
#define MOGEM_ENGINE_BREAKDOWN_H

#include "engine/em_types.h"

namespace mogem::detail {

// Under the correlation metric every row is scaled to unit length; a row of length zero (after
// centring, when centring applies) would become not-a-number. Refuses the fit (refuse_input)
// naming the first such row.
void refuse_zero_length_rows(em_memory *m);

// After EM step `step`: throws mogem::error of kind breakdown, naming the step and what
// became not-a-number (the weights, a class's mean or its covariance), when any has.
void stop_if_model_broke_down(em_memory *m, int step);

// After the final E-step: the same when a posterior is not a number.
void stop_if_posteriors_broke_down(em_memory *m);

}  // namespace mogem::detail

#endif
