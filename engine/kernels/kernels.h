// The block kernels of the E-step and the M-step: the inner loops over a block of EM_BLOCK
// points, gathered in one record of entry points per code path.
//
// One kernel source (kernel_bodies.inc) is compiled for every path: once for the target's
// baseline instruction set (four doubles a vector) and, on x86-64 with a compiler that takes
// `#pragma GCC target`, once more for AVX2 (four doubles, the CMake option MOGEM_AVX2_KERNELS)
// and once for AVX-512F (eight doubles, MOGEM_AVX512_KERNELS). The paths give the same bits: each
// lane of a vector does the scalar operation, nothing contracts a*b+c, and every accumulator
// adds its terms in the order the point-by-point formula does. A model state holds the path
// it uses (em_memory::kernels): allocate_em_memory stores best_kernels(), a test may store
// another. The kernels only read and write the model state and the storage they are handed;
// they allocate nothing, start no thread and never fail.
#ifndef MOGEM_ENGINE_KERNELS_KERNELS_H
#define MOGEM_ENGINE_KERNELS_KERNELS_H

#include "engine/em_types.h"
#include "engine/kernels/block.h"

namespace mogem::detail {

// Working storage of one E-step block (F = features, K = classes), made by the caller.
struct estep_block {
  double *coordinates;  // F x EM_BLOCK: coordinate j + 1 of point b at [j * EM_BLOCK + b]
  double *differences;  // F x EM_BLOCK: the same layout, minus a class mean (FULL)
  double *terms;        // (K + 1) x EM_BLOCK: class k of point b at [k * EM_BLOCK + b]
  double *largest;      // EM_BLOCK: the largest log-density of each point
  double *reciprocal;   // EM_BLOCK: the sum of each point's terms, then its reciprocal
};

// Writes into out[0 .. EM_BLOCK-1] the squared Mahalanobis distance of every point of the
// block laid out in s.coordinates (padding points included) from class k, with the inverse
// covariance stored for k: the arithmetic of the kind's mahalanobis_* (em_estep.h), in the
// same order, point by point.
typedef void (*block_distances_op)(em_memory *m, int k, const estep_block &s, double *out);

// Classes whose means (and squares) one call of add_means (add_means_and_squares) takes.
constexpr int MEAN_CLASSES = 4;

// One share of an M-step sum: class k, features (or covariance rows) first..last.
struct class_features {
  int k, first, last;
};

// Points whose differences add_products holds at a time: as many as 16 KiB takes, so that they
// stay in a first-level data cache (32 KiB or more) beside the rows being read; at least 4.
inline int product_run(int width, int features) {
  const int run = 16384 / (static_cast<int>(sizeof(double)) * (width + features));
  return run > 4 ? run : 4;
}

struct kernel_set {
  const char *name;  // "default", "avx2" or "avx512"
  int lanes;         // doubles in one of the path's vectors: 4 or 8

  // The block distances of each covariance kind (the kind's record picks its own).
  block_distances_op distances_scalar;
  block_distances_op distances_diag;
  block_distances_op distances_full;

  // E-step for the points first .. first+count-1 (1 <= count <= EM_BLOCK): lays their
  // coordinates out in s (zeros past count), then P_j_x[k][i] for every class, from log_det,
  // log_p_j, the exponent inv_temp and `distances`. s.terms is left with each point's
  // unnormalised terms. The largest log-density is class 1's on ties; a NaN never wins.
  void (*posteriors_of_block)(em_memory *m, int first, int count, block_distances_op distances,
                              const estep_block &s);

  // M-step sums over the points first..last, each added in ascending point order; a point
  // whose posterior P_j_x[k][i] is exactly 0 is left out of class k's sums (or adds terms that change nothing).
  // means[k][j] += w x (means: rows 1..K, features 1..F, such as class_means), for j =
  // u.first..u.last and the classes k[0..classes-1] (1 <= classes <= MEAN_CLASSES), all in one
  // pass over the points: each coordinate loaded serves every class, and their independent
  // sums keep the adder busy. When weights is not null, also weights[k] += w for those classes
  // (every point, its posterior 0 or not).
  void (*add_means)(em_memory *m, const class_features &u, const int *k, int classes, int first, int last,
                    double *weights, double *const *means);
  // The same as add_means, and squares[k][j] += x (w x) (laid out as means).
  void (*add_means_and_squares)(em_memory *m, const class_features &u, const int *k, int classes, int first,
                                int last, double *weights, double *const *means, double *const *squares);
  // SCALAR: for the classes k .. k + classes - 1 (1 <= classes <= lanes): sums[c] += w x (the
  // squared distance of the point from class_means[k + c], its features added in ascending
  // order from 0), w the point's posterior of that class, for the points first..last in
  // ascending order; a point whose posterior is exactly 0 is left out. means is working
  // storage of F x lanes values.
  void (*add_squared_distances)(em_memory *m, int k, int classes, int first, int last, double *means, double *sums);
  // FULL: sums[(r-1) * width + (s-1)] += (w d_r) d_s with d = class_means[u.k] - x, for rows
  // r = u.first..u.last and columns s >= r (the columns left of the diagonal, up to the
  // lanes-aligned one, get values nobody reads). width is F rounded up to a multiple of
  // `lanes`; work is working storage of product_run(width, F) x (width + F) values, each
  // point's d (width values, its padding columns 0, as the caller leaves them) then w d (F
  // values).
  void (*add_products)(em_memory *m, const class_features &u, int first, int last, double *sums, int width,
                       double *work);

  // k-means: best[b] = the centre k of 1..K nearest to each of the EM_BLOCK points laid out in
  // coordinates (feature j + 1 of point b at [j * EM_BLOCK + b]), by the squared distance summed
  // from 0 over the features in ascending order; a tie goes to the lower k, and a distance that
  // is not a number never wins over class 1's. centres[k][1..F].
  // The rows next[0..next_count-1] (features 1..F; next may be null), the next block's, are
  // fetched into the cache a share at a time along the way.
  void (*nearest_centres)(double *const *centres, int K, int F, const double *coordinates, int *best,
                          const double *const *next, int next_count);
  // k-means: the rows first..first+count-1 (1 <= count <= EM_BLOCK; features 1..F of data[i])
  // laid out in coordinates as nearest_centres takes them, zeros past count.
  void (*lay_out_rows)(const double *const *data, int first, int count, int F, double *coordinates);
  // k-means++: out[c * EM_BLOCK + b] = the squared distance of point b (laid out as above) from
  // centres[c][1..F], c = 0..count-1, summed from 0 over the features in ascending order; the
  // rows next[0..next_count-1] fetched along the way as by nearest_centres.
  void (*squared_distances)(const double *const *centres, int count, int F, const double *coordinates,
                            double *out, const double *const *next, int next_count);
  // k-means centre sums: sums[(labels[i] - 1) * width + j] += data[i][from + j], j = 0..width-1,
  // for the rows i = first..last in ascending order.
  void (*add_rows_by_class)(const double *const *data, int first, int last, const int *labels, int from, int width,
                            double *sums);
};

// The path built for the target's baseline instruction set; every build has it.
const kernel_set &default_kernels();

// The AVX2 path, or null when this build has none (not x86-64, a compiler without the
// target pragma, or MOGEM_AVX2_KERNELS off). Only a CPU with AVX2 may run it.
const kernel_set *avx2_kernels();

// Whether this CPU (and its operating system) runs AVX2 instructions; false when the build
// has no AVX2 path.
bool cpu_has_avx2();

// The AVX-512 path (eight doubles a vector), or null when this build has none (as for AVX2, or
// MOGEM_AVX512_KERNELS off). Only a CPU with AVX-512F may run it.
const kernel_set *avx512_kernels();

// Whether this CPU (and its operating system) runs AVX-512F instructions; false when the build
// has no AVX-512 path.
bool cpu_has_avx512();

// The fastest path of this build that the CPU runs.
const kernel_set &best_kernels();

// The records the path sources define; reached through the functions above.
namespace default_path {
extern const kernel_set kernels;
}
namespace avx2_path {
extern const kernel_set kernels;
}
namespace avx512_path {
extern const kernel_set kernels;
}

}  // namespace mogem::detail

#endif
