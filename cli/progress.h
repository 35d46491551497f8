// The progress line: while a run goes on and standard error is a terminal, one line on it
// shows the EM step, the last change of the mixture weights and, for annealing, the
// temperature and the class count. It is redrawn at most ten times a second and erased at the
// end, so that nothing of it is left on the screen.
//
// Whether to show it is decided once per run: when standard error is not a terminal no record
// exists, no progress callback is given to the fit and the output is exactly what it would be
// without this module.
#ifndef MOGEM_CLI_PROGRESS_H
#define MOGEM_CLI_PROGRESS_H

#include "mogem/mogem.h"

namespace mogem::detail {

struct em_progress;

// A new progress record, owned by the caller, when standard error is a terminal; else null.
em_progress *progress_start_if_terminal();

// The commands' line: each step shown against the budget, with the restart of `restarts`, the
// change of the mean log-likelihood per row and the time since the start.
void progress_set_budget(em_progress *progress, int budget, int restarts);

// The fit has finished an EM step.
void progress_em_step(em_progress *progress, const mogem::progress &at);

// Erases the line if one is shown and releases the record. Null does nothing.
void progress_finish(em_progress *progress);

}  // namespace mogem::detail

#endif
