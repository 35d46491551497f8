// Writes the benchmarks' Gaussian mixture (bench/mixture.h) as text: N rows of F numbers
// ("%.6f", space separated). The same arguments give the same bytes on every run.
//
//   mogem_make_mixture N F K SEED > data.txt
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/mixture.h"

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s N F K SEED\n", argv[0]);
    return 2;
  }
  const long N = std::atol(argv[1]);
  const int F = std::atoi(argv[2]), K = std::atoi(argv[3]);
  mixture source(F, K, std::strtoull(argv[4], nullptr, 10));
  std::vector<double> values(F);
  std::vector<char> line(static_cast<size_t>(F) * 32 + 2);
  for (long i = 0; i < N; i++) {
    source.row(i, values.data());
    char *p = line.data();
    for (int j = 0; j < F; j++) p += std::sprintf(p, j ? " %.6f" : "%.6f", values[j]);
    *p++ = '\n';
    std::fwrite(line.data(), 1, p - line.data(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
