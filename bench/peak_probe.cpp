// A second measure of one core's peak rate of adds and multiplies of doubles, written apart
// from mogem_roofline's so that each checks the other: x86 intrinsics instead of vector
// extensions, adds and multiplies issued in one interleaved stream, 24 independent registers
// (12 summed, 12 multiplied) for 512-bit vectors and 12 for 256-bit ones, timed by this
// thread's processor time (which other work on a shared machine does not inflate) over a
// fixed count of operations, the best of several runs. Prints GFLOP/s per width.
//
//   build/mogem_peak_probe
#include <immintrin.h>
#include <time.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr long ROUNDS = 1 << 22;

// 12 chains of adds and 12 of multiplies of eight doubles; returns the operations done.
__attribute__((target("avx512f"), noinline)) double run_512(double step, double factor, double *sink) {
  __m512d v[24];
  const __m512d a = _mm512_set1_pd(step), f = _mm512_set1_pd(factor);
  for (int c = 0; c < 24; c++) v[c] = _mm512_set1_pd(1.0 + c);
  for (long r = 0; r < ROUNDS; r++) {
#pragma GCC unroll 12
    for (int c = 0; c < 12; c++) {
      v[c] = _mm512_add_pd(v[c], a);
      v[c + 12] = _mm512_mul_pd(v[c + 12], f);
    }
  }
  __m512d s = v[0];
  for (int c = 1; c < 24; c++) s = _mm512_add_pd(s, v[c]);
  double lanes[8];
  _mm512_storeu_pd(lanes, s);
  for (double lane : lanes) *sink += lane;
  return 24.0 * 8 * ROUNDS;
}

// 6 chains of adds and 6 of multiplies of four doubles (16 registers in all).
__attribute__((target("avx2"), noinline)) double run_256(double step, double factor, double *sink) {
  __m256d v[12];
  const __m256d a = _mm256_set1_pd(step), f = _mm256_set1_pd(factor);
  for (int c = 0; c < 12; c++) v[c] = _mm256_set1_pd(1.0 + c);
  for (long r = 0; r < ROUNDS; r++) {
#pragma GCC unroll 6
    for (int c = 0; c < 6; c++) {
      v[c] = _mm256_add_pd(v[c], a);
      v[c + 6] = _mm256_mul_pd(v[c + 6], f);
    }
  }
  __m256d s = v[0];
  for (int c = 1; c < 12; c++) s = _mm256_add_pd(s, v[c]);
  double lanes[4];
  _mm256_storeu_pd(lanes, s);
  *sink += lanes[0] + lanes[1] + lanes[2] + lanes[3];
  return 12.0 * 4 * ROUNDS;
}

double best_rate(double (*run)(double, double, double *)) {
  volatile double step = 1e-300, factor = 1.0;
  double sink = 0.0, best = 0.0;
  for (int trial = 0; trial < 7; trial++) {
    timespec start, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    const double done = run(step, factor, &sink);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    const double seconds = (end.tv_sec - start.tv_sec) + 1e-9 * (end.tv_nsec - start.tv_nsec);
    best = std::max(best, done / seconds);
  }
  if (sink == 0.125) std::printf(" ");
  return best;
}

}  // namespace

int main() {
  __builtin_cpu_init();
  std::printf("peak adds and multiplies of doubles, one core, GFLOP/s (best of 7 runs, processor time)\n");
  if (__builtin_cpu_supports("avx2")) std::printf("256-bit: %.1f\n", best_rate(run_256) / 1e9);
  if (__builtin_cpu_supports("avx512f")) std::printf("512-bit: %.1f\n", best_rate(run_512) / 1e9);
  return 0;
}
