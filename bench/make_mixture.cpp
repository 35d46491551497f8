// Writes a deterministic Gaussian mixture as text, for the benchmarks: N rows of F numbers
// ("%.6f", space separated), the row i drawn from component (i - 1) mod K, so that rows 1..K
// come from K different components. The components overlap, so that EM keeps moving the
// weights for many iterations. The same arguments give the same bytes on every run.
//
//   mogem_make_mixture N F K SEED > data.txt
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>


namespace {

uint64_t state;

uint64_t next_word() {  // splitmix64
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double uniform() { return ((next_word() >> 11) + 0.5) * 0x1.0p-53; }

double normal() {  // Box-Muller, one value per pair of uniforms
  return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s N F K SEED\n", argv[0]);
    return 2;
  }
  const long N = std::atol(argv[1]);
  const int F = std::atoi(argv[2]), K = std::atoi(argv[3]);
  state = std::strtoull(argv[4], nullptr, 10);
  std::vector<double> centre(static_cast<size_t>(K) * F), spread(static_cast<size_t>(K) * F);
  for (int k = 0; k < K; k++)
    for (int j = 0; j < F; j++) {
      centre[k * F + j] = 2.0 * (uniform() - 0.5);
      spread[k * F + j] = 0.5 + uniform();
    }
  std::vector<char> line(static_cast<size_t>(F) * 32 + 2);
  for (long i = 0; i < N; i++) {
    const int k = static_cast<int>(i % K);
    char *p = line.data();
    for (int j = 0; j < F; j++)
      p += std::sprintf(p, j ? " %.6f" : "%.6f", centre[k * F + j] + spread[k * F + j] * normal());
    *p++ = '\n';
    std::fwrite(line.data(), 1, p - line.data(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
