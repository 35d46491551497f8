// Everything that differs between the covariance kinds, in one record per kind: how a class's
// covariance is stored, set, copied and read back per feature, and the EM operations that use
// it. The rest of the engine asks the record and never switches on the kind itself.
//
// TIED keeps the full kind's storage (K planes of F x F) so that the full kind's block distances
// serve it unchanged: plane 1 of class_variances is the one covariance all classes share (the
// other planes are not used), and inv_covariance holds K copies of its inverse. Its variance
// update pools the scatter of every class into plane 1 and adds reg_covar itself; the E-step
// factorises plane 1 once (for class 1) and hands the inverse and log-determinant on to the
// other classes, so a step costs one factorisation, not K.
#ifndef MOGEM_ENGINE_COVARIANCE_KINDS_H
#define MOGEM_ENGINE_COVARIANCE_KINDS_H

#include "engine/em_types.h"
#include "engine/kernels/kernels.h"

namespace mogem::detail {

struct covariance_kind_ops {
  em_kind kind;
  // Values one class's covariance holds: 1, F or F x F.
  long (*values_per_class)(int F);
  // Makes the kind's member of v for K classes; memory that cannot be had ends the run through
  // NR_error.
  void (*make)(em_variances &v, int K, int F);
  // The spherical covariance `variance` x identity for class k.
  void (*set_spherical)(em_variances &v, int k, int F, double variance);
  // x added to every variance of class k (the diagonal of a full covariance). TIED: nothing;
  // its variance update adds reg_covar to the shared covariance once.
  void (*add_to_variances)(em_variances &v, int k, int F, double x);
  // The free parameters of the covariances of K classes: K, K F, K F (F + 1) / 2, or
  // F (F + 1) / 2 for TIED.
  long (*free_parameters)(int K, int F);
  // Class `to` gets class `from`'s covariance (TIED: nothing, they share it).
  void (*copy_class)(em_variances &v, int from, int to, int F);
  // out[1..F] = the variance of each feature of class k (the diagonal for FULL).
  void (*feature_variances)(const em_variances &v, int k, int F, double *out);
  // Value e (0-based, in the order of values_per_class) of class k, to read or write it.
  double &(*value)(em_variances &v, int k, int F, long e);
  // Where the variance of feature j of class k (both 0-based) stands among the values of all
  // classes laid out class after class (mogem::model::covariances).
  long (*feature_variance_index)(int k, int j, int F);
  // Where the values of class k (1-based) start in mogem::model::covariances: (k - 1) x
  // values_per_class, or 0 for TIED, whose classes share one matrix.
  long (*model_offset)(int k, int F);
  // The EM operations of the kind, reached through m->kind: the M-step (em_mstep.h: weights,
  // means and covariances; returns the weights' change), and the E-step's log-determinant,
  // distance and inverse (em_estep.h).
  double (*m_step)(em_memory *m);
  em_class_value_op log_determinant;
  em_distance_op mahalanobis_distance;
  em_class_op build_inv_covariance;
  // The kind's block distances in a kernel record, m->kernels->*block_distances.
  block_distances_op kernel_set::*block_distances;
  // Arithmetic of one mahalanobis_distance on F features, to judge whether threads pay.
  double (*distance_cost)(int F);
  // The M-step when the rows have missing values (holes.h), in place of m_step.
  double (*m_step_with_holes)(em_memory *m);
  // Whether the M-step's first pass over the rows takes the sums of x (w x) beside those of
  // w x (DIAG): the M-step's own pass and the E-step's early one (em_mstep.h) both ask here.
  bool means_with_squares;
};

// The record of SCALAR, DIAG, FULL or TIED.
const covariance_kind_ops &kind_ops(int em_type);

// The values mogem::model::covariances holds for K classes of this kind.
long model_values(const covariance_kind_ops &ops, int K, int F);

// v[1..classes][1..features] = the variance of each class and feature, for the model's kind.
void class_variances(em_memory *m, double **v);

}  // namespace mogem::detail

#endif
