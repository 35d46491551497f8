// Runs plain EM on an input file as mogem does, writes nothing, and prints three numbers: the
// mean log-likelihood per data point of the fitted model ("%.10f"), the number of EM
// iterations the loop ran (fewer than max_em_iterations when the weights settled first) and
// the seconds the loop took. bench/compare uses them to show that mogem and its peer did the
// same work, and to time the iterations apart from reading and starting the process.
//
//   mogem_loglik <input_file>
#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/model_state.h"
#include "engine/kernels/parallel.h"
#include "io/parameter_file.h"
#include "mogem/mogem.h"

using namespace mogem::detail;

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <input_file>\n", argv[0]);
    return 2;
  }
  try {
    em_parameters p;
    std::vector<double> data;
    read_parameters(argv[1], &p, &data);
    em_memory *m = allocate_em_memory(&p, data.data());
    m->threads = threads_for(0);
    // The sequence of a plain EM run with the file initialization, which needs no seed.
    initialize_parameters(m);
    const auto start = std::chrono::steady_clock::now();
    const int iterations = em_run(m, 0);
    const std::chrono::duration<double> loop = std::chrono::steady_clock::now() - start;
    find_P_j_x(m);  // inverse covariances and log-determinants of the final model
    std::printf("%.10f %d %.6f\n", find_log_likelihood(m) / m->datapoints, iterations, loop.count());
    release_em_memory(m);
  } catch (const mogem::error &failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
  return 0;
}
