#include "engine/em_estep.h"

#include <cmath>
#include <memory>
#include <vector>

#include "engine/kernels/block.h"
#include "engine/kernels/parallel.h"
#include "nr/nr_scoped.h"
#include "numeric/dmat_inverse.h"

namespace mogem::detail {

namespace {

constexpr int BLOCK = EM_BLOCK;

// Working storage of one part of the E-step, made on the calling thread before the parts run.
struct estep_scratch {
  scoped_dvector coordinates;  // F x BLOCK: coordinate j of point b at [j*BLOCK + b]
  scoped_dvector differences;  // F x BLOCK: the same layout, minus the class mean (FULL)
  scoped_dvector terms;        // K x BLOCK: class k of point b at [k*BLOCK + b]
  scoped_dvector largest;      // BLOCK: the largest log-density of each point
  scoped_dvector reciprocal;   // BLOCK: the sum of each point's terms, then its reciprocal
  estep_scratch(int F, int K)
      : coordinates(0, static_cast<long>(F) * BLOCK - 1), differences(0, static_cast<long>(F) * BLOCK - 1),
        terms(0, static_cast<long>(K + 1) * BLOCK - 1), largest(0, BLOCK - 1),
        reciprocal(0, BLOCK - 1) {}
};

// Writes the squared distance of every point of the block (first .. first+count-1, laid out
// in s.coordinates, padded to BLOCK with zeros) from class k into out[0..BLOCK-1]. Each does the
// arithmetic of the per-point operation of its kind in the same order, point by point.
typedef void (*block_distance_op)(em_memory *m, int k, int first, int count, estep_scratch &s, double *out);

__attribute__((target_clones("avx2", "default"))) void block_distance_scalar(em_memory *m, int k, int, int,
                                                                           estep_scratch &s, double *__restrict out) {
  em_block_squared_distances(s.coordinates.get(), m->class_means[k] + 1, nullptr, m->features, out);
  const double inverse = m->inv_covariance.scalar[k];
  for (int b = 0; b < BLOCK; b++) out[b] = inverse * out[b];
}

__attribute__((target_clones("avx2", "default"))) void block_distance_diag(em_memory *m, int k, int, int,
                                                                         estep_scratch &s, double *__restrict out) {
  em_block_squared_distances(s.coordinates.get(), m->class_means[k] + 1, m->inv_covariance.diagonal[k] + 1,
                             m->features, out);
}

// d^T A d with A the stored inverse: for each column c, the entry sum over rows r of
// A[r][c] d[r] (r ascending, from 0), then the dot product with d over the columns (c
// ascending). Sixteen points at a time keep their column entries in registers.
__attribute__((target_clones("avx2", "default"))) void block_distance_full(em_memory *m, int k, int, int,
                                                                         estep_scratch &s, double *__restrict out) {
  const int F = m->features;
  const double *mean = m->class_means[k];
  double *const *inverse = m->inv_covariance.full[k];
  const double *__restrict x = s.coordinates.get();
  double *__restrict diff = s.differences.get();
  for (int j = 0; j < F; j++) {
    const double mu = mean[j + 1];
    for (int b = 0; b < BLOCK; b++) diff[j * BLOCK + b] = x[j * BLOCK + b] - mu;
  }
  for (int b = 0; b < BLOCK; b++) out[b] = 0.0;
  for (int c = 1; c <= F; c++) {
    const double *dc = diff + (c - 1) * BLOCK;
    for (int b = 0; b < BLOCK; b += 16) {
      em_lanes e0 = {0.0, 0.0, 0.0, 0.0}, e1 = e0, e2 = e0, e3 = e0;
      const double *d = diff + b;
      for (int r = 1; r <= F; r++, d += BLOCK) {
        const double a = inverse[r][c];
        const em_lanes av = {a, a, a, a};
        em_lanes d0, d1, d2, d3;
        em_load(d0, d), em_load(d1, d + 4), em_load(d2, d + 8), em_load(d3, d + 12);
        e0 = av * d0 + e0, e1 = av * d1 + e1, e2 = av * d2 + e2, e3 = av * d3 + e3;
      }
      em_lanes o, dv;
      em_load(o, out + b), em_load(dv, dc + b), em_store(out + b, o + e0 * dv);
      em_load(o, out + b + 4), em_load(dv, dc + b + 4), em_store(out + b + 4, o + e1 * dv);
      em_load(o, out + b + 8), em_load(dv, dc + b + 8), em_store(out + b + 8, o + e2 * dv);
      em_load(o, out + b + 12), em_load(dv, dc + b + 12), em_store(out + b + 12, o + e3 * dv);
    }
  }
}

// Any other distance operation, called point by point.
void block_distance_by_point(em_memory *m, int k, int first, int count, estep_scratch &, double *out) {
  for (int b = 0; b < count; b++) out[b] = m->mahalanobis_distance(m, first + b, k);
}

block_distance_op block_distance_for(em_distance_op distance) {
  if (distance == mahalanobis_scalar) return block_distance_scalar;
  if (distance == mahalanobis_diag) return block_distance_diag;
  if (distance == mahalanobis_full) return block_distance_full;
  return block_distance_by_point;
}

// Posteriors of the points first .. first+count-1 (count <= BLOCK) under the per-class
// constants already in m. Every point is independent of every other.
__attribute__((target_clones("avx2", "default"))) void posteriors_of_block(em_memory *m, int first, int count, double anneal_exponent, block_distance_op distance,
                         estep_scratch &s) {
  const int K = m->classes, F = m->features;
  const double *log_det = m->log_det, *log_p_j = m->log_p_j;
  double *__restrict x = s.coordinates.get();
  for (int b = 0; b < count; b++) {
    const double *row = m->data[first + b];
    for (int j = 0; j < F; j++) x[j * BLOCK + b] = row[j + 1];
  }
  for (int b = count; b < BLOCK; b++)
    for (int j = 0; j < F; j++) x[j * BLOCK + b] = 0.0;

  double *__restrict terms = s.terms.get();
  double *__restrict largest = s.largest.get();
  double *__restrict reciprocal = s.reciprocal.get();
  for (int k = 1; k <= K; k++) {
    double *__restrict t = terms + k * BLOCK;
    distance(m, k, first, count, s, t);
    const double ld = log_det[k];
    for (int b = 0; b < BLOCK; b++) t[b] = -0.5 * (t[b] + ld);
  }
  // The largest log-density, without the log weights; class 1 wins ties and NaNs never win.
  for (int b = 0; b < BLOCK; b++) largest[b] = terms[BLOCK + b];
  for (int k = 2; k <= K; k++) {
    const double *__restrict t = terms + k * BLOCK;
    for (int b = 0; b < BLOCK; b++) largest[b] = t[b] > largest[b] ? t[b] : largest[b];
  }
  for (int b = 0; b < count; b++) reciprocal[b] = 0.0;
  for (int k = 1; k <= K; k++) {
    double *__restrict t = terms + k * BLOCK;
    const double lp = log_p_j[k];
    for (int b = 0; b < count; b++) {
      t[b] = std::exp(anneal_exponent * ((t[b] - largest[b]) + lp));
      reciprocal[b] += t[b];
    }
  }
  for (int b = 0; b < count; b++) reciprocal[b] = 1.0 / reciprocal[b];
  for (int k = 1; k <= K; k++) {
    const double *__restrict t = terms + k * BLOCK;
    double *__restrict posterior = m->P_j_x[k] + first;
    for (int b = 0; b < count; b++) posterior[b] = t[b] * reciprocal[b];
  }
}

// Arithmetic per point and class, to judge whether threads pay.
double distance_cost(em_distance_op distance, int F) {
  return distance == mahalanobis_full ? static_cast<double>(F) * F + 32 : F + 32.0;
}

}  // namespace

void find_P_j_x(em_memory *m) {
  find_P_j_x_threads(m, m->threads);
}

void find_P_j_x_threads(em_memory *m, int threads) {
  const int K = m->classes, N = m->datapoints, F = m->features;
  const double d_log_2pi = std::log(EM_TWO_PI) * F;
  const double anneal_exponent = m->inv_temp;
  // Per-class work stays on the calling thread: a covariance that cannot be factorised ends
  // the run from here, with its message written exactly once.
  for (int k = 1; k <= K; k++) {
    m->log_det[k] = m->log_determinant(m, k) + d_log_2pi;
    m->log_p_j[k] = std::log(m->P_j[k]);
    m->build_inv_covariance(m, k);
  }
  if (N < 1 || K < 1) return;

  const block_distance_op distance = block_distance_for(m->mahalanobis_distance);
  const int blocks = (N + BLOCK - 1) / BLOCK;
  const int parts =
      em_parts_for(static_cast<double>(N) * K * distance_cost(m->mahalanobis_distance, F), threads, blocks);
  std::vector<std::unique_ptr<estep_scratch>> scratch;
  for (int part = 0; part < parts; part++) scratch.push_back(std::make_unique<estep_scratch>(F, K));

  em_run_parts(parts, [&](int part) {
    const int first = em_range_start(1, N, parts, part, BLOCK);
    const int end = em_range_start(1, N, parts, part + 1, BLOCK);
    estep_scratch &s = *scratch[part];
    for (int i = first; i < end; i += BLOCK) {
      const int count = end - i < BLOCK ? end - i : BLOCK;
      posteriors_of_block(m, i, count, anneal_exponent, distance, s);
      // The working values left behind are the unnormalised terms of the last point.
      if (i + count - 1 == N)
        for (int k = 1; k <= K; k++) m->p_x_j[k] = s.terms.get()[k * BLOCK + count - 1];
    }
  });
}

double log_determinant_scalar(em_memory *m, int k) {
  return std::log(m->class_variances.scalar[k]) * m->features;
}

double log_determinant_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) sum += std::log(variances[j]);
  return sum;
}

double log_determinant_full(em_memory *m, int k) {
  return std::log(det_copy_alloc_dmat(m->class_variances.full[k], m->features));
}

double mahalanobis_scalar(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d;
  }
  return m->inv_covariance.scalar[k] * sum;
}

double mahalanobis_diag(em_memory *m, int i, int k) {
  const double *x = m->data[i], *mean = m->class_means[k], *inverse = m->inv_covariance.diagonal[k];
  double sum = 0.0;
  for (int j = 1; j <= m->features; j++) {
    const double d = x[j] - mean[j];
    sum += d * d * inverse[j];
  }
  return sum;
}

double mahalanobis_full(em_memory *m, int i, int k) {
  // The product inverse x difference is taken one column at a time (its entries are needed
  // only for the dot product), so nothing is allocated per call.
  const int F = m->features;
  const double *x = m->data[i], *mean = m->class_means[k];
  double *const *inverse = m->inv_covariance.full[k];
  double sum = 0.0;
  for (int c = 1; c <= F; c++) {
    double entry = 0.0;
    for (int r = 1; r <= F; r++) entry = inverse[r][c] * (x[r] - mean[r]) + entry;
    sum += entry * (x[c] - mean[c]);
  }
  return sum;
}

void inv_covariance_scalar(em_memory *m, int k) {
  m->inv_covariance.scalar[k] = 1.0 / m->class_variances.scalar[k];
}

void inv_covariance_diag(em_memory *m, int k) {
  const double *variances = m->class_variances.diagonal[k];
  double *inverse = m->inv_covariance.diagonal[k];
  for (int j = 1; j <= m->features; j++) inverse[j] = 1.0 / variances[j];
}

void inv_covariance_full(em_memory *m, int k) {
  invert_copy_alloc_sym_dmat(m->class_variances.full[k], m->features, m->inv_covariance.full[k]);
}

}  // namespace mogem::detail
