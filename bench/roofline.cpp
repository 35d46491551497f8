// How near the EM steps run to this machine's limits. Measures, on the machine it runs on, the
// peak rate of independent adds and multiplies on one core for each code path the CPU runs
// (default, AVX2, AVX-512: 2, 4 and 8 doubles a vector; with 8 to 24 independent chains, the
// fastest kept, as too few chains measure the units' latency rather than their rate; the
// independent check is mogem_peak_probe), the cost of one exp and of one log, and the memory
// bandwidth;
// counts the operations of the E-step and of the M-step of each size and kind of
// bench/compare from the formulas as the engine computes them (padding lanes and columns not
// counted); then runs the steps on the same mixtures and prints, per size, kind and thread
// count, each step's floor in ms, its least measured ms and their ratio, the whole step's
// floor (the sum) and ratio, and each step's least processor time.
//
//   build/mogem_roofline [--threads 1,2] [--steps S] [--only REGEX] [--clock wall|cpu]
//
// --clock cpu sets the floors against the processor time of each step over its threads
// (processor time / T) instead of the wall clock: on a machine shared with other work the wall
// clock counts the time the step waited for a core, and its ratios say more of the load than of
// the code. Processor time over T leaves out what the threads spent waiting on one another, so
// on several threads the wall clock of a quiet machine is the truer figure.
//
// The count, per point and class pair (F features): the E-step's differences and distance
// (scalar 2F adds and F + 1 multiplies, diagonal 2F and 2F, full F^2 + 2F and F^2 + F: the
// quadratic form takes every entry of the inverse, as it must to keep each sum's order), then
// 5 adds (the log-density's add, the largest's comparison, the exponent's two adds, the sum of
// the terms), 3 multiplies and one exp; one division per point, counted as a multiply. The
// M-step: the weight sums (1 add for every pair) and, for each pair whose posterior is not
// exactly 0 (counted in the step itself), the sums of the means (F adds and F multiplies;
// diagonal 2F and 2F with the squares, whose x (w x) takes the mean's w x) and of the
// covariance (scalar: 2F adds and F multiplies for every pair, the block distances being taken
// for all, then 1 and 1; full: F adds and F
// multiplies for the differences and weighted differences, F(F + 1)/2 adds and as many
// multiplies for the upper triangle). The tied kind counts as the full one (the same distance
// kernel, the same scatter) plus the pooling of the K classes' triangles, K F(F + 1)/2 adds; it
// factorises once instead of K times. The per-class work (inverses, determinants) is left out:
// it does not grow with the rows.
//
// Two more rows per size. "kmeans": one Lloyd iteration (lloyd_step, as lloyd() runs it), its
// assignment of every row to the nearest centre in the E columns (N K F subtracts, multiplies
// and adds; the data read, the labels read and written; timed alone) and its centre sums in
// the M columns (N F adds and the labels read: the sums can ride on the assignment's pass over
// the rows), the M time being the iteration's less the assignment's; its nz% the share of pairs a row's label takes, 100/K. "loglik": the extra cost
// of the log-likelihood stop rule, an E-step writing each row's log density against the same
// kind's plain E-step, the two alternating on the same model (the kind given per size), in the
// E columns only (the least with less the least without; rough on a loaded machine): N K
// adds for the terms' sums, N adds and N logs (at the measured cost of log), N doubles written.
// "diagonal-holes" and "full-holes": the kind's step with a tenth of the values missing (each
// value by a fixed draw), EM on the observed values from the same start, set against the
// complete-data step's floor: what the holes cost beyond the step without them.
//
// The floor of each step on T threads is the larger of its arithmetic (the adds and
// multiplies at the engine's path's rate, the larger of adds alone, multiplies alone and the
// two together, plus the exps and logs at their measured cost) divided by the speed-up T threads
// measure running that arithmetic at once (below T where the machine's cores share execution
// units), and its memory traffic at the bandwidth of T threads (the E-step reads the data and
// writes the posteriors; each M-step pass reads the data once per part and the posteriors
// once).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench/mixture.h"
#include "engine/covariance_kinds.h"
#include "engine/em.h"
#include "engine/em_classify.h"
#include "engine/em_estep.h"
#include "engine/em_mstep.h"
#include "engine/holes.h"
#include "engine/kernels/kernels.h"
#include "engine/kernels/parallel.h"
#include "engine/kmeans.h"
#include "engine/model_state.h"
#include "engine/parameters.h"

using namespace mogem::detail;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds of processor time this thread (or the whole process) has had: the measure of work
// on one core that other processes on a shared machine do not inflate.
double cpu_seconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return now.tv_sec + 1e-9 * now.tv_nsec;
}

// The least time of `repeats` calls of f(), in seconds: of this thread's processor time when
// on_cpu (f runs on this thread alone), else of the wall clock.
template <typename Call>
double least_time(int repeats, Call f, bool on_cpu = true) {
  double best = 1e30;
  for (int r = 0; r < repeats; r++) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    f();
    best = std::min(best, on_cpu ? cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start : seconds_since(start));
  }
  return best;
}

// ---- peak rates ----

// mode 0: adds only, 1: multiplies only, 2: both in equal numbers. CHAINS independent chains
// of one vector each (half and half for both): the rate is the least time any one chain
// waits on its own result, so a probe with too few chains measures the latency of the units,
// not their rate. Returns the operations done (doubles).
#define RATE_KERNEL(NAME, TARGET, WIDTH)                                                             \
  typedef double NAME##_vector __attribute__((vector_size(8 * (WIDTH))));                            \
  template <int CHAINS>                                                                              \
  TARGET double NAME(int mode, long reps, double step, double factor, double *sink) {                 \
    NAME##_vector v[CHAINS], a, f;                                                                   \
    for (int l = 0; l < (WIDTH); l++) a[l] = step, f[l] = factor;                                    \
    for (int c = 0; c < CHAINS; c++)                                                                 \
      for (int l = 0; l < (WIDTH); l++) v[c][l] = 1.0 + c + l;                                       \
    if (mode == 0) {                                                                                 \
      for (long r = 0; r < reps; r++) {                                                              \
        _Pragma("GCC unroll 32") for (int c = 0; c < CHAINS; c++) v[c] += a;                         \
      }                                                                                              \
    } else if (mode == 1) {                                                                          \
      for (long r = 0; r < reps; r++) {                                                              \
        _Pragma("GCC unroll 32") for (int c = 0; c < CHAINS; c++) v[c] *= f;                         \
      }                                                                                              \
    } else {                                                                                         \
      for (long r = 0; r < reps; r++) {                                                              \
        _Pragma("GCC unroll 16") for (int c = 0; c < CHAINS / 2; c++) v[c] += a, v[c + CHAINS / 2] *= f; \
      }                                                                                              \
    }                                                                                                \
    NAME##_vector s = v[0];                                                                          \
    for (int c = 1; c < CHAINS; c++) s += v[c];                                                      \
    for (int l = 0; l < (WIDTH); l++) *sink += s[l];                                                 \
    return double(CHAINS) * (WIDTH) * reps;                                                          \
  }

RATE_KERNEL(rate_default, , 2)
RATE_KERNEL(rate_avx2, __attribute__((target("avx2"))), 4)
RATE_KERNEL(rate_avx512, __attribute__((target("avx512f"))), 8)

typedef double (*rate_kernel)(int, long, double, double, double *);

struct path_rates {
  const char *name;
  int width;
  bool runs;      // the CPU runs it
  bool built;     // the engine has kernels for it
  double add, mul, both;  // operations (doubles) per second on one core
  rate_kernel kernel;     // the probe that gave `both`
  int chains;             // its chains
};

// The chain counts a path's probe tries: 8 to 24 vectors, within its registers (16 for the
// default and AVX2 paths, 32 for AVX-512, less the two operands).
struct rate_kernels {
  rate_kernel chains[4];  // 8, 12, 14 (or 16) and 24 chains; null past the registers
};

double measure_rate(rate_kernel kernel, int mode) {
  volatile double step = 1e-300, factor = 1.0;  // unknown to the compiler, values stay put
  double sink = 0.0, done = 0.0;
  const long reps = 2 << 20;
  const double time = least_time(5, [&] { done = kernel(mode, reps, step, factor, &sink); });
  if (sink == 0.125) std::printf(" ");
  return done / time;
}

// The highest rate over the chain counts, and the count that gave it.
double best_rate(const rate_kernels &kernels, int mode, rate_kernel *best_kernel) {
  double best = 0.0;
  for (rate_kernel kernel : kernels.chains) {
    if (!kernel) continue;
    const double rate = measure_rate(kernel, mode);
    if (rate > best) best = rate, *best_kernel = kernel;
  }
  return best;
}

std::vector<path_rates> measure_paths() {
  __builtin_cpu_init();
  struct candidate {
    const char *name;
    int width;
    bool runs, built;
    rate_kernels kernels;
  };
  const candidate candidates[] = {
      {"default", 2, true, true, {{rate_default<8>, rate_default<12>, rate_default<14>, nullptr}}},
      {"avx2", 4, __builtin_cpu_supports("avx2") != 0, avx2_kernels() != nullptr,
       {{rate_avx2<8>, rate_avx2<12>, rate_avx2<14>, nullptr}}},
      {"avx512", 8, __builtin_cpu_supports("avx512f") != 0, avx512_kernels() != nullptr,
       {{rate_avx512<8>, rate_avx512<12>, rate_avx512<16>, rate_avx512<24>}}},
  };
  const int chain_counts[][4] = {{8, 12, 14, 0}, {8, 12, 14, 0}, {8, 12, 16, 24}};
  std::vector<path_rates> paths;
  for (const candidate &c : candidates) {
    path_rates p{c.name, c.width, c.runs, c.built, 0.0, 0.0, 0.0, c.kernels.chains[0], 0};
    if (c.runs) {
      rate_kernel unused;
      p.add = best_rate(c.kernels, 0, &unused), p.mul = best_rate(c.kernels, 1, &unused);
      p.both = best_rate(c.kernels, 2, &p.kernel);
      for (int n = 0; n < 4; n++)
        if (c.kernels.chains[n] == p.kernel) p.chains = chain_counts[&c - candidates][n];
    }
    paths.push_back(p);
  }
  return paths;
}

// Seconds per call of f on arguments spread over [low, high]. f is inlined, as the engine's
// loops call exp and log directly: through a function pointer each call cost 2 ns more (exp
// read 5.0 ns where a direct call takes 3.0) and the E-step's floor was that much too soft.
template <typename Call>
double measure_call(Call f, double low, double high) {
  std::vector<double> in(4096), out(4096);
  for (size_t i = 0; i < in.size(); i++) in[i] = low + (high - low) * ((i * 2654435761u) % 4096) / 4096.0;
  const int reps = 200;
  double sink = 0.0;
  const double time = least_time(5, [&] {
    for (int r = 0; r < reps; r++) {
      for (size_t i = 0; i < in.size(); i++) out[i] = f(in[i]);
      sink += out[r];
    }
  });
  if (sink == 0.125) std::printf(" ");
  return time / (static_cast<double>(reps) * in.size());
}

// Seconds per exp call on arguments spread over [-30, 0], as the E-step's exponents are.
double measure_exp() {
  return measure_call([](double x) { return std::exp(x); }, -30.0, 0.0);
}

// Seconds per log call on arguments spread over [1, 16], as the sums of the E-step's terms
// (the largest being 1) are.
double measure_log() {
  return measure_call([](double x) { return std::log(x); }, 1.0, 16.0);
}

// How many times one thread's arithmetic `threads` threads do at once: each runs the same
// independent adds and multiplies (on `kernel`'s path) and exps, and their wall time is set
// against one thread's. A machine whose "cores" are hardware threads sharing one core's units
// gives well below `threads`, and the floor on those threads rises with it.
double arithmetic_speedup(int threads, rate_kernel kernel) {
  if (threads == 1) return 1.0;
  auto work = [kernel] {
    volatile double step = 1e-300, factor = 1.0;
    double sink = 0.0;
    kernel(2, 2 << 20, step, factor, &sink);
    for (int i = 0; i < 2000000; i++) sink += std::exp(-30.0 * (i % 4096) / 4096.0);
    if (sink == 0.125) std::printf(" ");
  };
  const double one = least_time(3, work, false);
  const double together = least_time(
      3,
      [&] {
        std::vector<std::thread> running;
        for (int t = 0; t < threads; t++) running.emplace_back(work);
        for (std::thread &t : running) t.join();
      },
      false);
  return threads * one / together;
}

// Bytes per second read (and written) by `threads` threads streaming over 512 MiB; on one
// thread timed by its processor time, which other work on a shared machine does not inflate.
struct bandwidth {
  double read, write;
};

bandwidth measure_bandwidth(int threads) {
  const size_t count = size_t{64} << 20;
  std::vector<double> values(count, 1.0);
  std::vector<double> sums(threads);
  auto over_threads = [&](auto body) {
    std::vector<std::thread> running;
    for (int t = 1; t < threads; t++) running.emplace_back(body, t);
    body(0);
    for (std::thread &t : running) t.join();
  };
  auto slice = [&](int t, size_t *from, size_t *to) {
    *from = count / threads * t;
    *to = t + 1 == threads ? count : count / threads * (t + 1);
  };
  const double read = least_time(5, [&] {
    over_threads([&](int t) {
      size_t from, to;
      slice(t, &from, &to);
      double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
      for (size_t i = from; i + 3 < to; i += 4) s0 += values[i], s1 += values[i + 1], s2 += values[i + 2], s3 += values[i + 3];
      sums[t] = s0 + s1 + s2 + s3;
    });
  }, threads == 1);
  const double write = least_time(5, [&] {
    over_threads([&](int t) {
      size_t from, to;
      slice(t, &from, &to);
      std::fill(values.data() + from, values.data() + to, 2.0 + t);
    });
  }, threads == 1);
  if (sums[0] == 0.125) std::printf(" ");
  return {count * sizeof(double) / read, count * sizeof(double) / write};
}

// ---- the count ----

struct step_count {
  double adds = 0, muls = 0, exps = 0, logs = 0, bytes_read = 0, bytes_written = 0;
};

// The E-step and the M-step of one EM step on N x F points, K classes, `nonzero` pairs of
// point and class with a posterior other than 0, the M-step cut into `parts` parts.
struct step_counts {
  step_count e, m;
};

step_counts count_step(int kind, double N, double F, double K, double nonzero, int parts) {
  const double pairs = N * K;
  step_counts c;
  // E-step: distances, then the log-sum-exp and the posteriors.
  const double distance_adds[] = {2 * F, 2 * F, F * F + 2 * F, F * F + 2 * F};
  const double distance_muls[] = {F + 1, 2 * F, F * F + F, F * F + F};
  c.e.adds = pairs * (distance_adds[kind] + 5);
  c.e.muls = pairs * (distance_muls[kind] + 3) + N;
  c.e.exps = pairs;
  const double data = N * F * 8, posteriors = N * K * 8;
  c.e.bytes_read = data, c.e.bytes_written = posteriors;
  // M-step.
  c.m.adds = pairs;  // the weights
  if (kind == DIAG) {
    c.m.adds += nonzero * 2 * F, c.m.muls += nonzero * 2 * F;
  } else {
    c.m.adds += nonzero * F, c.m.muls += nonzero * F;
  }
  if (kind == SCALAR) c.m.adds += pairs * 2 * F + nonzero, c.m.muls += pairs * F + nonzero;
  if (kind == FULL || kind == TIED) {
    const double triangle = F * (F + 1) / 2;
    c.m.adds += nonzero * (F + triangle), c.m.muls += nonzero * (F + triangle);
    if (kind == TIED) c.m.adds += K * triangle;  // the classes' scatters pooled
  }
  const int passes = kind == DIAG ? 1 : 2;
  c.m.bytes_read = passes * (parts * data + posteriors);
  return c;
}

// One Lloyd iteration on N x F rows, K centres: the assignment as the E-step, the centre sums
// as the M-step. The sums can ride on the assignment's pass over the rows (lloyd() adds them
// there on one thread), so the M floor reads only the labels, for the counts.
step_counts count_lloyd(double N, double F, double K) {
  step_counts c;
  const double data = N * F * 8, labels = N * 4;
  c.e.adds = 2 * N * K * F, c.e.muls = N * K * F;
  c.e.bytes_read = data + labels, c.e.bytes_written = labels;
  c.m.adds = N * F;
  c.m.bytes_read = labels;
  return c;
}

// The extra work of an E-step that writes each row's log density.
step_count count_log_densities(double N, double K) {
  step_count c;
  c.adds = N * K + N, c.logs = N, c.bytes_written = N * 8;
  return c;
}

// ---- the steps ----

struct size_case {
  int N, F, K;
  std::vector<int> kinds;
  int loglik_kind;  // the kind whose E-step the loglik row measures with the log densities
};

// bench/compare's sizes, and the tied kind.
const size_case SIZES[] = {
    {100000, 16, 8, {SCALAR, DIAG, FULL, TIED}, DIAG},
    {1000000, 16, 16, {SCALAR, DIAG, FULL, TIED}, DIAG},
    {100000, 64, 8, {FULL, TIED}, FULL},
};
const char *KIND_NAMES[] = {"scalar", "diagonal", "full", "tied"};

// bench/compare's data: the mixture of its seed, rounded to the six decimals of its text.
std::vector<double> mixture_rows(const size_case &s) {
  mixture source(s.F, s.K, 20261207);
  std::vector<double> rows(static_cast<size_t>(s.N) * s.F);
  char text[64];
  for (long i = 0; i < s.N; i++) {
    double *row = rows.data() + i * s.F;
    source.row(i, row);
    for (int j = 0; j < s.F; j++) {
      std::snprintf(text, sizeof text, "%.6f", row[j]);
      row[j] = std::strtod(text, nullptr);
    }
  }
  return rows;
}

struct step_times {
  double least, median;  // seconds per step
  double cpu;             // the least processor time of a step, over all its threads
  double estep, mstep;    // the least seconds of an E-step and of an M-step
  double estep_cpu, mstep_cpu;  // the least processor time of each, over all its threads
  double nonzero;         // of the least step: the pairs with a posterior other than 0
};

// The model state of bench/compare's start (the first K rows as means, equal weights, each
// class's variance the squared distance to the nearest other mean), on `threads` threads;
// the caller releases it.
em_memory *compare_start(const size_case &s, int kind, int threads, std::vector<double> &rows, em_parameters &p) {
  p = parameters_of(mogem::options{}, s.N, s.F);
  p.num_classes = s.K, p.em_type = kind;
  em_memory *m = allocate_em_memory(&p, rows.data());
  m->threads = threads;
  for (int k = 1; k <= s.K; k++) {
    m->P_j[k] = 1.0 / s.K;
    for (int j = 1; j <= s.F; j++) m->class_means[k][j] = m->data[k][j];
  }
  for (int k = 1; k <= s.K; k++) m->kind->set_spherical(m->class_variances, k, s.F, find_closest(k, m));
  return m;
}

// The rows with a share `missing` of their values made NaN (each value by a draw of a fixed
// generator; a row that would lose every value keeps its first).
std::vector<double> with_holes(const size_case &s, const std::vector<double> &rows, double missing) {
  std::vector<double> holed = rows;
  std::mt19937_64 draws(20261209);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (long i = 0; i < s.N; i++) {
    double *row = holed.data() + i * s.F;
    int kept = 0;
    for (int j = 0; j < s.F; j++) {
      if (unit(draws) < missing)
        row[j] = std::nan("");
      else
        kept++;
    }
    if (kept == 0) row[0] = rows[static_cast<size_t>(i) * s.F];
  }
  return holed;
}

// From bench/compare's start, runs two steps, then times `steps` steps one by one. With
// `missing` above 0, the rows have that share of their values missing (with_holes) and the
// steps are those of EM with holes, from the same start as the complete rows'.
step_times time_steps(const size_case &s, int kind, int threads, int steps, std::vector<double> &rows,
                      double missing = 0.0) {
  em_parameters p;
  std::vector<double> holed;
  if (missing > 0.0) holed = with_holes(s, rows, missing);
  em_memory *m = compare_start(s, kind, threads, missing > 0.0 ? holed : rows, p);
  if (missing > 0.0) {
    for (int k = 1; k <= s.K; k++)
      for (int j = 1; j <= s.F; j++) m->class_means[k][j] = rows[static_cast<size_t>(k - 1) * s.F + j - 1];
    for (int k = 1; k <= s.K; k++) m->kind->set_spherical(m->class_variances, k, s.F, find_closest(k, m));
    m->holes = std::make_shared<hole_state>(holes_of(m));
  }
  std::vector<double> times, esteps, msteps, nonzero, cpu, estep_cpu, mstep_cpu;
  for (int step = 0; step < 2 + steps; step++) {
    auto start = std::chrono::steady_clock::now();
    double cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    m->early.wanted = true;  // as the EM loop runs the step: the E-step takes the M-step's first sums
    find_P_j_x(m);
    double cpu_step = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
    if (step >= 2) estep_cpu.push_back(cpu_step);
    const double estep = seconds_since(start);
    double count = 0;
    for (int k = 1; k <= s.K; k++)
      for (int i = 1; i <= s.N; i++) count += m->P_j_x[k][i] != 0.0;
    start = std::chrono::steady_clock::now();
    cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (m->holes)
      m->kind->m_step_with_holes(m);
    else
      m->kind->m_step(m);
    if (step >= 2) mstep_cpu.push_back(cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start);
    cpu_step += cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
    if (step >= 2) cpu.push_back(cpu_step);
    const double mstep = seconds_since(start);
    if (step >= 2) times.push_back(estep + mstep), esteps.push_back(estep), msteps.push_back(mstep), nonzero.push_back(count);
  }
  release_em_memory(m);
  const size_t least = std::min_element(times.begin(), times.end()) - times.begin();
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  return {times[least], sorted[sorted.size() / 2], *std::min_element(cpu.begin(), cpu.end()),
          *std::min_element(esteps.begin(), esteps.end()), *std::min_element(msteps.begin(), msteps.end()),
          *std::min_element(estep_cpu.begin(), estep_cpu.end()), *std::min_element(mstep_cpu.begin(), mstep_cpu.end()),
          nonzero[least]};
}

// The extra cost of the log densities: from bench/compare's start, two steps, then `steps`
// rounds of one plain E-step and one writing the log densities, alternating on the same model
// so that both see the same load; the E fields of the result hold the least of those with the
// densities less the least of the plain ones, the other fields nothing (NaN).
step_times time_log_densities(const size_case &s, int kind, int threads, int steps, std::vector<double> &rows) {
  em_parameters p;
  em_memory *m = compare_start(s, kind, threads, rows, p);
  for (int step = 0; step < 2; step++) {
    find_P_j_x(m);
    m->kind->m_step(m);
  }
  std::vector<double> log_density(s.N);
  double least[2] = {1e30, 1e30}, least_cpu[2] = {1e30, 1e30};
  for (int round = 0; round < 2 * steps; round++) {
    const int with = round % 2;
    m->log_density = with ? log_density.data() : nullptr;
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    find_P_j_x(m);
    least_cpu[with] = std::min(least_cpu[with], cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start);
    least[with] = std::min(least[with], seconds_since(start));
  }
  m->log_density = nullptr;
  release_em_memory(m);
  const double nan = std::nan("");
  return {nan, nan, nan, least[1] - least[0], nan, least_cpu[1] - least_cpu[0], nan, nan};
}

// From bench/compare's start means, labels the rows, runs two Lloyd iterations, then times
// `steps` iterations (lloyd_step), each after an assignment alone (assign_to_nearest) on the
// same centres: the E fields hold the assignment, the M fields the rest of the iteration (the
// centre sums), `least` the whole iteration.
step_times time_lloyd(const size_case &s, int threads, int steps, std::vector<double> &rows) {
  em_parameters p;
  em_memory *m = compare_start(s, DIAG, threads, rows, p);
  const kmeans_rows share{m->data.get(), s.N, s.F, s.K, &m->share, threads};
  std::vector<int> labels(static_cast<size_t>(s.N) + 1, 0);
  lloyd_work work;  // as lloyd() runs them: the sums of an iteration ride on the assignment before it
  assign_to_nearest(share, m->class_means.get(), labels.data(), &work);
  double least = 1e30, assign = 1e30, assign_cpu = 1e30, whole_cpu = 1e30;
  std::vector<double> times;
  for (int step = 0; step < 2 + steps; step++) {
    if (step >= 2) {
      std::vector<int> copy = labels;
      auto start = std::chrono::steady_clock::now();
      double cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
      assign_to_nearest(share, m->class_means.get(), copy.data());
      assign_cpu = std::min(assign_cpu, cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start);
      assign = std::min(assign, seconds_since(start));
    }
    auto start = std::chrono::steady_clock::now();
    double cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    lloyd_step(share, m->class_means.get(), labels.data(), nullptr, &work);
    if (step < 2) continue;
    whole_cpu = std::min(whole_cpu, cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start);
    times.push_back(seconds_since(start));
    least = std::min(least, times.back());
  }
  release_em_memory(m);
  std::sort(times.begin(), times.end());
  return {least, times[times.size() / 2], whole_cpu, assign, std::max(0.0, least - assign),
          assign_cpu, std::max(0.0, whole_cpu - assign_cpu), static_cast<double>(s.N)};  // one label a row
}

std::vector<int> thread_list(const char *text) {
  std::vector<int> list;
  for (const char *p = text; *p;) {
    char *end;
    const long t = std::strtol(p, &end, 10);
    if (end == p || t < 1) return {};
    list.push_back(static_cast<int>(t));
    p = *end == ',' ? end + 1 : end;
    if (*end && *end != ',') return {};
  }
  return list;
}

// Prints the peak rates of every path; returns the engine's.
const path_rates *print_paths(const std::vector<path_rates> &paths) {
  const char *engine_path = best_kernels().name;
  std::printf("peak rates on one core, Gop/s (independent adds and multiplies of doubles, no contraction)\n");
  std::printf("%-8s %5s %8s %8s %8s %6s  %s\n", "path", "width", "adds", "muls", "both", "chains", "");
  const path_rates *used = &paths[0];
  for (const path_rates &p : paths) {
    if (!p.runs) {
      std::printf("%-8s %5d %8s %8s %8s %6s  not run by this CPU\n", p.name, p.width, "-", "-", "-", "-");
      continue;
    }
    std::printf("%-8s %5d %8.1f %8.1f %8.1f %6d  %s%s\n", p.name, p.width, p.add / 1e9, p.mul / 1e9, p.both / 1e9, p.chains,
                p.built ? "built" : "not built", std::strcmp(p.name, engine_path) == 0 ? ", the engine's" : "");
    if (std::strcmp(p.name, engine_path) == 0) used = &p;
  }
  return used;
}

// What the machine measured: the engine's path's rates, the cost of exp and log, and per
// thread count of the run its bandwidth and arithmetic speed-up.
struct machine_rates {
  const path_rates *used = nullptr;
  double exp_cost = 0, log_cost = 0;
  std::vector<bandwidth> bandwidths;
  std::vector<double> speedups;
};

// The floor of one step's work on the run's t-th thread count, in seconds.
double floor_of(const machine_rates &r, size_t t, const step_count &part) {
  const double arithmetic =
      std::max({part.adds / r.used->add, part.muls / r.used->mul, (part.adds + part.muls) / r.used->both}) +
      part.exps * r.exp_cost + part.logs * r.log_cost;
  const double memory = part.bytes_read / r.bandwidths[t].read + part.bytes_written / r.bandwidths[t].write;
  return std::max(arithmetic / r.speedups[t], memory);
}

// v printed in `width` columns with `precision` decimals, or "-" when v is not a number (a
// column the row has nothing for).
std::string cell(double v, int width, int precision) {
  char text[32];
  if (std::isnan(v))
    std::snprintf(text, sizeof text, "%*s", width, "-");
  else
    std::snprintf(text, sizeof text, "%*.*f", width, precision, v);
  return text;
}

// One row of the table: the counts, the floors (seconds) and the measured times, the ratios
// taken against the wall clock or (on_cpu) against the processor time over the threads.
void print_row(const size_case &s, const char *kind, int threads, const step_counts &c, double floor_e, double floor_m,
               const step_times &timed, bool on_cpu) {
  step_times measured = timed;
  if (on_cpu) {
    measured.estep = timed.estep_cpu / threads, measured.mstep = timed.mstep_cpu / threads;
    measured.least = timed.cpu / threads;
  }
  char size[32];
  std::snprintf(size, sizeof size, s.N >= 1000000 ? "%dMx%d/%d" : "%dkx%d/%d", s.N >= 1000000 ? s.N / 1000000 : s.N / 1000,
                s.F, s.K);
  const double floor = floor_e + floor_m;
  const double nz = 100.0 * measured.nonzero / (static_cast<double>(s.N) * s.K);
  const std::string share = std::isnan(nz) ? cell(nz, 6, 1) : cell(nz, 5, 1) + "%";
  std::printf("%-12s %-14s %3d | %s %s %6.0f | %6.1f %6.1f %6.2f | %s %s %s %s | %s %s %s | %6.1f %s\n", size, kind, threads,
              cell((c.e.adds + c.e.muls) / 1e9, 6, 2).c_str(), cell((c.m.adds + c.m.muls) / 1e9, 6, 2).c_str(),
              (c.e.bytes_read + c.e.bytes_written + c.m.bytes_read) / 1e6, floor_e * 1e3, measured.estep * 1e3,
              measured.estep / floor_e, cell(floor_m * 1e3, 6, 1).c_str(), cell(measured.mstep * 1e3, 6, 1).c_str(),
              cell(measured.mstep / floor_m, 6, 2).c_str(), share.c_str(), cell(floor * 1e3, 6, 1).c_str(),
              cell(measured.least * 1e3, 6, 1).c_str(), cell(measured.least / floor, 6, 2).c_str(), measured.estep_cpu * 1e3,
              cell(measured.mstep_cpu * 1e3, 6, 1).c_str());
  std::fflush(stdout);
}

// The rows of one size: each kind's step, the log-likelihood rule's extra E-step cost on
// s.loglik_kind, and one Lloyd iteration; each on every thread count, those whose label
// `only` (when not empty) matches.
void run_size(const size_case &s, const machine_rates &r, const std::vector<int> &threads, int steps,
              const std::string &only, bool on_cpu) {
  auto wanted = [&](const char *name) {
    char label[64];
    std::snprintf(label, sizeof label, "%dx%d/%d %s", s.N, s.F, s.K, name);
    return only.empty() || std::regex_search(label, std::regex(only));
  };
  const double nan = std::nan("");
  std::vector<double> rows;
  for (int kind : s.kinds) {
    const bool loglik = kind == s.loglik_kind && wanted("loglik");
    if (!wanted(KIND_NAMES[kind]) && !loglik) continue;
    if (rows.empty()) rows = mixture_rows(s);
    for (size_t t = 0; t < threads.size(); t++) {
      if (wanted(KIND_NAMES[kind])) {
        const step_times measured = time_steps(s, kind, threads[t], steps, rows);
        const step_counts c = count_step(kind, s.N, s.F, s.K, measured.nonzero, threads[t]);
        print_row(s, KIND_NAMES[kind], threads[t], c, floor_of(r, t, c.e), floor_of(r, t, c.m), measured, on_cpu);
      }
      if (!loglik) continue;
      step_counts c;
      c.e = count_log_densities(s.N, s.K);
      c.m.adds = c.m.muls = nan;
      print_row(s, "loglik", threads[t], c, floor_of(r, t, c.e), nan, time_log_densities(s, kind, threads[t], steps, rows),
                on_cpu);
    }
  }
  // EM with a tenth of the values missing, against the complete rows' floor.
  for (int kind : s.kinds) {
    if (kind != DIAG && kind != FULL) continue;
    const std::string name = std::string(KIND_NAMES[kind]) + "-holes";
    if (!wanted(name.c_str())) continue;
    if (rows.empty()) rows = mixture_rows(s);
    for (size_t t = 0; t < threads.size(); t++) {
      const step_times measured = time_steps(s, kind, threads[t], steps, rows, 0.1);
      const step_counts c = count_step(kind, s.N, s.F, s.K, measured.nonzero, threads[t]);
      print_row(s, name.c_str(), threads[t], c, floor_of(r, t, c.e), floor_of(r, t, c.m), measured, on_cpu);
    }
  }
  if (!wanted("kmeans")) return;
  if (rows.empty()) rows = mixture_rows(s);
  for (size_t t = 0; t < threads.size(); t++) {
    const step_times measured = time_lloyd(s, threads[t], steps, rows);
    const step_counts c = count_lloyd(s.N, s.F, s.K);
    print_row(s, "kmeans", threads[t], c, floor_of(r, t, c.e), floor_of(r, t, c.m), measured, on_cpu);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<int> threads = {1, available_cores()};
  if (threads[1] == 1) threads.pop_back();
  int steps = 5;
  std::string only;
  bool on_cpu = false;
  for (int a = 1; a < argc; a++) {
    const std::string arg = argv[a];
    if (arg == "--threads" && a + 1 < argc) {
      threads = thread_list(argv[++a]);
    } else if (arg == "--steps" && a + 1 < argc) {
      steps = std::atoi(argv[++a]);
    } else if (arg == "--only" && a + 1 < argc) {
      only = argv[++a];
    } else if (arg == "--clock" && a + 1 < argc && (std::strcmp(argv[a + 1], "cpu") == 0 || std::strcmp(argv[a + 1], "wall") == 0)) {
      on_cpu = std::strcmp(argv[++a], "cpu") == 0;
    } else {
      threads.clear();
    }
    if (threads.empty() || steps < 1) {
      std::fprintf(stderr, "usage: %s [--threads 1,2] [--steps S] [--only REGEX] [--clock wall|cpu]\n", argv[0]);
      return 2;
    }
  }

  const std::vector<path_rates> paths = measure_paths();
  machine_rates rates;
  rates.used = print_paths(paths);
  rates.exp_cost = measure_exp(), rates.log_cost = measure_log();
  std::printf("exp: %.2f ns a call\n", rates.exp_cost * 1e9);
  std::printf("log: %.2f ns a call\n", rates.log_cost * 1e9);
  for (int t : threads) {
    rates.bandwidths.push_back(measure_bandwidth(t));
    std::printf("memory, %d thread%s: read %.1f GB/s, write %.1f GB/s\n", t, t == 1 ? "" : "s",
                rates.bandwidths.back().read / 1e9, rates.bandwidths.back().write / 1e9);
    rates.speedups.push_back(arithmetic_speedup(t, rates.used->kernel));
    if (t > 1) std::printf("arithmetic, %d threads at once: %.2f times one thread's\n", t, rates.speedups.back());
  }

  if (on_cpu) std::printf("\nthe ms and ratios below: processor time over the threads\n");
  std::printf("\n%-12s %-14s %3s | %6s %6s %6s | %6s %6s %6s | %6s %6s %6s %6s | %6s %6s %6s | %6s %6s\n", "size", "kind", "thr",
              "Gop/E", "Gop/M", "MB", "floorE", "E ms", "E/fl", "floorM", "M ms", "M/fl", "nz%", "floor", "min ms",
              "ratio", "E cpu", "M cpu");
  for (const size_case &s : SIZES) run_size(s, rates, threads, steps, only, on_cpu);
  return 0;
}
