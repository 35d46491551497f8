// Runs plain EM on an input file as mogem does, writes nothing, and prints three numbers: the
// mean log-likelihood per data point of the fitted model ("%.10f"), the number of EM
// iterations the loop ran (fewer than max_em_iterations when the weights settled first) and
// the seconds the loop took. bench/compare uses them to show that mogem and its peer did the
// same work, and to time the iterations apart from reading and starting the process.
//
// With --fit it times the library's whole fit instead (mogem::fit on the rows in memory, with
// the file's settings: initialization, EM loop, final E-step, statistics), the least of three,
// and prints the same three numbers for it: the in-process reference of the Python package.
//
//   mogem_loglik [--fit] <input_file>
// The threads follow MOGEM_THREADS, as in a run of mogem.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/model_state.h"
#include "engine/kernels/parallel.h"
#include "engine/parameters.h"
#include "mogem/mogem.h"

using namespace mogem::detail;

namespace {

int threads_asked() {
  const char *text = std::getenv("MOGEM_THREADS");
  return text ? std::atoi(text) : 0;
}

// The least seconds of three library fits of the file's rows with its settings.
void time_library_fit(const char *path) {
  mogem::parameter_file file = mogem::read_parameter_file(path);
  file.settings.threads = threads_asked();
  double least = 0.0;
  mogem::model fitted;
  for (int run = 0; run < 3; run++) {
    const auto start = std::chrono::steady_clock::now();
    fitted = mogem::fit({file.data.data(), file.rows, file.cols}, file.settings);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (run == 0 || took.count() < least) least = took.count();
  }
  std::printf("%.10f %d %.6f\n", fitted.statistics.log_likelihood_per_point, fitted.steps, least);
}

}  // namespace

int main(int argc, char **argv) {
  const bool whole_fit = argc == 3 && std::string(argv[1]) == "--fit";
  if (argc != 2 && !whole_fit) {
    std::fprintf(stderr, "usage: %s [--fit] <input_file>\n", argv[0]);
    return 2;
  }
  try {
    if (whole_fit) {
      time_library_fit(argv[2]);
      return 0;
    }
    mogem::parameter_file file = mogem::read_parameter_file(argv[1]);
    em_parameters p = parameters_of(file.settings, file.rows, file.cols);
    em_memory *m = allocate_em_memory(&p, file.data.data());
    m->threads = threads_for(threads_asked());
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
