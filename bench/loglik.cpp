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
// With --kmeans it times k-means on the file's rows instead, as the start init_params kmeans
// runs it: greedy k-means++ centres from random_seed, then 10 Lloyd iterations (each moves the
// centres and gives every row to the nearest), whether or not the classes settle; it prints
// the milliseconds of one iteration and of the seeding.
//
//   mogem_loglik [--fit | --kmeans] <input_file>
// The threads follow MOGEM_THREADS, as in a run of mogem.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/kmeans.h"
#include "engine/model_state.h"
#include "engine/kernels/parallel.h"
#include "engine/parameters.h"
#include "mogem/files.h"

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
    fitted = mogem::fit({file.data.data(), file.rows, file.cols}, file.settings).model;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (run == 0 || took.count() < least) least = took.count();
  }
  std::printf("%.10f %d %.6f\n", fitted.statistics.log_likelihood_per_point, fitted.steps, least);
}

// k-means on the file's rows: milliseconds per Lloyd iteration and of the seeding.
void time_kmeans(const char *path) {
  mogem::parameter_file file = mogem::read_parameter_file(path);
  const int N = static_cast<int>(file.rows), F = static_cast<int>(file.cols), K = file.settings.classes;
  std::vector<double *> rows(static_cast<std::size_t>(N) + 1);
  for (int i = 1; i <= N; i++) rows[i] = file.data.data() + static_cast<std::size_t>(i - 1) * F - 1;
  const row_share alone;
  const kmeans_rows input{rows.data(), N, F, K, &alone, threads_for(threads_asked())};
  one_based_matrix centres(K, F);
  std::vector<int> labels(static_cast<std::size_t>(N) + 1, 0);
  rand48_stream random(file.settings.random_seed);
  const auto start = std::chrono::steady_clock::now();
  kmeans_plus_plus(input, random, centres.get());
  assign_to_nearest(input, centres.get(), labels.data());
  const auto seeded = std::chrono::steady_clock::now();
  const int iterations = 10;
  for (int t = 0; t < iterations; t++) lloyd_step(input, centres.get(), labels.data());
  const std::chrono::duration<double, std::milli> seeding = seeded - start, lloyd = std::chrono::steady_clock::now() - seeded;
  std::printf("%.3f %.3f\n", lloyd.count() / iterations, seeding.count());
}

}  // namespace

int main(int argc, char **argv) {
  const bool whole_fit = argc == 3 && std::string(argv[1]) == "--fit";
  const bool kmeans = argc == 3 && std::string(argv[1]) == "--kmeans";
  if (argc != 2 && !whole_fit && !kmeans) {
    std::fprintf(stderr, "usage: %s [--fit | --kmeans] <input_file>\n", argv[0]);
    return 2;
  }
  try {
    if (kmeans) {
      time_kmeans(argv[2]);
      return 0;
    }
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
