#include "engine/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/random.h"
#include "engine/breakdown.h"
#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/em_da.h"
#include "nr/nr_util.h"

namespace mogem::detail {

const char *const algorithm_names[4] = {"DA-EM (MoG)", "EM (MoG)", "KMeans", "EM (MoT)"};

void debuglog(const char *) {}

void(assert)(int expr, const char *errormessage) {
  if (expr) return;
  char message[512];
  std::snprintf(message, sizeof message, "assertion FAILURE: %s", errormessage);
  debuglog(message);
  refuse("%s", errormessage);
}

FILE *open_file(const char *filename, const char *permissions, const char *) {
  FILE *fp = std::fopen(filename, permissions);
  int error = errno;
  char message[512];
  std::snprintf(message, sizeof message, "%s is not openable, errno is %i (%s)\n", filename, error,
                std::strerror(error));
  (assert)(fp != nullptr, message);
  return fp;
}

void run(em_memory *m) {
  // ran1 seeds on a non-positive state, so s and -s give the same run; the state word it
  // leaves behind is the seed the initializations receive. The stream is this fit's own.
  const int32_t seed = m->params->random_seed;
  m->generator_state = seed > 0 ? -seed : seed;
  int32_t next = 0, table[RAN1_TABLE_SIZE];
  ran1_pll(&m->generator_state, &next, table);

  // Only the final model's log densities are wanted: the E-steps of the fit go without them.
  double *const log_density = m->log_density;
  m->log_density = nullptr;
  run_clustering_algorithm(m);
  m->log_density = log_density;
  // The labels come from the posteriors of the algorithm's last E-step; the posteriors that
  // are handed on are recomputed from the final model.
  find_classifications(m);
  m->estep = estep_purpose::after_fit;
  find_P_j_x_and_densities(m);
  stop_if_posteriors_broke_down(m);
}

void run_clustering_algorithm(em_memory *m) {
  switch (m->params->algorithm) {
    case ALGORITHM_DA_EM:
      debuglog("Running DA-EM (MoG) algorithm...");
      em_da(m);
      break;
    case ALGORITHM_EM:
      debuglog("Running EM (MoG) algorithm...");
      em(m);
      break;
    case ALGORITHM_EM_MOT:
      debuglog("Running EM (MoT) algorithm...");
      refuse(
          "the algorithm em_mixture_of_t (EM for a mixture of t distributions) is not available; choose em or "
          "em_annealing");
    default:
      refuse_input("Unrecognized algorithm.");
  }
}

}  // namespace mogem::detail
