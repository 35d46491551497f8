// The sequence of one fit on a model state, and the program's own input check.
#ifndef MOGEM_ENGINE_RUN_H
#define MOGEM_ENGINE_RUN_H

#include <cstdio>

#include "engine/em_types.h"

namespace mogem::detail {

// Seeds a uniform generator of the fit's own from the configured seed (the state word it
// leaves in m->generator_state is the seed the initializations receive; the configured
// `random_seed` stays as it is), runs the algorithm, labels
// every point from the posteriors the algorithm left and then recomputes the posteriors from
// the final model. The class count must already be at most the point count.
void run(em_memory *m);

// Dispatches on the parameter record's `algorithm`. "em_mixture_of_t", or a code the
// parameter file cannot produce, is refused as input before anything is fitted.
void run_clustering_algorithm(em_memory *m);

// Debug-log hook: discards its text. Algorithm notices go here and stay invisible.
void debuglog(const char *message);

// The program's own check, always active. Returns when expr is non-zero; otherwise hands
// "assertion FAILURE: <errormessage>" (cut to 511 characters) to debuglog and refuses the
// input with its message (refuse, nr/nr_util.h).
// The name is parenthesised in declarations and calls so that the C library's assert macro,
// wherever a header brings it in, is never expanded in its place.
void(assert)(int expr, const char *errormessage);

// Opens filename with the fopen mode `permissions`, or fails through assert with a message
// that names the file and the system's reason. The third argument is not used.
FILE *open_file(const char *filename, const char *permissions, const char *error_message);

}  // namespace mogem::detail

#endif
