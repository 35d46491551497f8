// Annealing EM is not part of this build yet. Until it is, a run that selects it is refused
// before any result is written, rather than given results of another algorithm.
#include <cstdio>

#include "engine/em_da.h"
#include "nr/nr_util.h"

void em_da(em_memory *) {
  std::fprintf(stderr, "Error: the algorithm em_annealing is not available in this build yet; choose em\n");
  throw run_exit{-1};
}
