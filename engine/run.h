// The front end's run sequence and its fatal-input checks.
//
// One run: read_parameters (em_fe_params.h) -> run -> report_results (em_fe_results.h) ->
// deallocate_em_memory (em_fe_memory.h). Fatal problems never return to the caller: they
// write their message on standard error and throw run_exit (nr/nr_util.h) with the exit
// code, which run_program (em_fe_program.h) turns into the program's exit code.
#ifndef MOGEM_ENGINE_RUN_H
#define MOGEM_ENGINE_RUN_H

#include <cstdio>

#include "engine/em_types.h"

namespace mogem::detail {

// Seeds the uniform generator from the configured seed (the state word it leaves in
// `random_seed` is the seed the initializations receive), lowers `classes` to `datapoints`
// with a warning when there are more classes than points, runs the algorithm, labels every
// point from the posteriors the algorithm left and then recomputes the posteriors from the
// final model.
void run(em_memory *m);

// Dispatches on the parameter record's `algorithm`. A code that names no available
// algorithm ("em_mixture_of_t", or one the parameter file cannot produce) is reported and
// ends the run with exit code -1 before any result is written.
void run_clustering_algorithm(em_memory *m);

// Debug-log hook: discards its text. Algorithm notices go here and stay invisible.
void debuglog(const char *message);

// The program's own check, always active. Returns when expr is non-zero; otherwise hands
// "assertion FAILURE: <errormessage>" (cut to 511 characters) to debuglog, writes
// "Error: <errormessage>" on standard error and ends the run with exit code -1.
// The name is parenthesised in declarations and calls so that the C library's assert macro,
// wherever a header brings it in, is never expanded in its place.
void(assert)(int expr, const char *errormessage);

// Opens filename with the fopen mode `permissions`, or ends the run through assert with a
// message that names the file and the system's reason. The third argument is not used.
FILE *open_file(const char *filename, const char *permissions, const char *error_message);

}  // namespace mogem::detail

#endif
