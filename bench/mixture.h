// The deterministic Gaussian mixture of the benchmarks: K components with centres in [-1, 1)
// and spreads in [0.5, 1.5) per feature, row i (from 0) drawn from component i mod K, so
// rows 0..K-1 come from K different components. The components overlap, so that EM keeps
// moving the weights for many iterations. mogem_make_mixture writes the rows as text and
// mogem_roofline takes them in memory; the same arguments give the same numbers.
#ifndef MOGEM_BENCH_MIXTURE_H
#define MOGEM_BENCH_MIXTURE_H

#include <cmath>
#include <cstdint>
#include <vector>

struct mixture {
  int F, K;
  uint64_t state;
  std::vector<double> centre, spread;  // K x F each

  mixture(int features, int classes, uint64_t seed)
      : F(features), K(classes), state(seed), centre(static_cast<size_t>(K) * F), spread(centre.size()) {
    for (int k = 0; k < K; k++)
      for (int j = 0; j < F; j++) {
        centre[k * F + j] = 2.0 * (uniform() - 0.5);
        spread[k * F + j] = 0.5 + uniform();
      }
  }

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

  // The next row, row i: out[0..F-1]. Rows come in order 0, 1, 2, ...
  void row(long i, double *out) {
    const int k = static_cast<int>(i % K);
    for (int j = 0; j < F; j++) out[j] = centre[k * F + j] + spread[k * F + j] * normal();
  }
};

#endif
