// Deterministic-annealing EM for a mixture of Gaussians.
#ifndef MOGEM_ENGINE_EM_DA_H
#define MOGEM_ENGINE_EM_DA_H

#include "engine/em_types.h"

namespace mogem::detail {

// Annealing EM: after the full initialization, one class runs EM at inverse temperature 0;
// stage by stage (EM steps numbered on across stages) the class of largest variance is split
// until the requested count is reached, two classes that have run together are pushed apart
// along their principal direction, and every stage without a split cools (inv_temp = 1 /
// temperature, then temperature x schedule_scalar). Returns once the count is reached, no two
// classes coincide and the temperature is at or below 1.0, with m->classes the requested
// count again and inv_temp its last value. A coinciding pair whose push cannot move either mean
// (the step is lost in the rounding of the means), or that is still found after 1000 pushes in a
// row at or below the final temperature, is treated as apart, so the run always ends.
// A schedule that could never reach that temperature (init_temp not a number, or above 1.0
// while infinite or with schedule_scalar not strictly between 0 and 1) is refused before
// anything else, through refuse_input (nr/nr_util.h). A start at or below 1.0 with a factor of 1
// or more (or not a number) is refused, the same way, at the cooling that first warms it above
// 1.0: from there no stage could end the run.
void em_da(em_memory *m);

// The first class j != i (in ascending order) whose mean lies, in squared Euclidean distance,
// closer to mean i than 0.01 x the variance of every feature of both classes; 0 if none. A
// zero or NaN variance never counts as coinciding.
int the_same(int i, em_memory *m);

// The class whose per-feature variances have the largest product (ties to the lower number;
// class 1 when no product is above 0).
int find_max_variance_cluster(em_memory *m);

// Moves mean i by +0.01 sqrt(largest variance of class i) along the unit principal direction
// of the data the two classes share (compute_pc), and mean j by the same amount the other way.
void perturbe(int i, int j, em_memory *m);

}  // namespace mogem::detail

#endif
