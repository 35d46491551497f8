// k-means on the rows a fit sees: k-means++ centres and Lloyd's iterations, for the starts
// kmeans and k-means++ (em.h).
//
// The rows may be shared among processes (row_share): every process then gets the same
// centres and its own rows' labels, bit for bit those of one process holding every row. Every
// sum over rows adds its terms in ascending row order, continued from process to process; the
// distances of the rows to the centres are shared among at most `threads` threads, each
// writing only its own rows, so the results do not depend on the thread count. Distances are
// squared Euclidean, features added in ascending order; a row goes to the nearest centre,
// ties to the lowest class. The centres are K x F (one-based, centres[k][j]); labels are 1..K
// for the rows 1..rows (one-based). Nothing here reports or fails; memory that cannot be had
// throws std::bad_alloc.
#ifndef MOGEM_ENGINE_KMEANS_H
#define MOGEM_ENGINE_KMEANS_H

#include <vector>

#include "common/rand48.h"
#include "engine/processes.h"

namespace mogem::detail {

// The rows k-means works on (not owned) and how the work is shared.
struct kmeans_rows {
  double *const *data;  // rows 1..rows x features 1..features of this process
  int rows;
  int features;
  int classes;          // K, at most the rows of all processes
  const row_share *share;
  int threads;
};

// Greedy k-means++ seeding (D^2 sampling with local trials): centre 1 is the row at floor(u x N)
// for a uniform u of `random` (N the rows of all processes). For each further centre,
// T = 2 + floor(ln K) candidates are drawn, candidate t the row at which the running sum of
// every row's squared distance D^2 to its nearest centre so far, taken in row order, first
// exceeds u_t x (the whole sum); the centre is the candidate that leaves the least sum of D^2
// (ties: the earlier). Rows already chosen have D^2 = 0 and are never drawn again, unless every
// D^2 is 0 (fewer distinct rows than classes): a candidate is then the row at floor(u_t x N).
// Draws exactly 1 + (K - 1) T numbers.
void kmeans_plus_plus(const kmeans_rows &rows, rand48_stream &random, double **centres);

// Working storage of the Lloyd iterations, kept from one to the next so that an iteration
// allocates nothing: the class sums, each part's own sums and block of coordinates, the
// changed labels of each block. Empty to begin with; the calls size it. sums_ready: the sums
// are those of the labels assign_to_nearest just gave (one process only), which the next
// lloyd_step then takes instead of a pass over the rows of its own.
struct lloyd_work {
  std::vector<double> sums;
  bool sums_ready = false;
  std::vector<std::vector<double>> own, coordinates;
  std::vector<long long> changed;
};

// labels[i] = the class of the centre nearest row i. Returns how many rows of all processes
// changed their label (labels holding 0 count as changed).
// work: storage to reuse (null: the call's own); given, on one process, it is left with the
// class sums of the new labels. The labels must not change before the lloyd_step given it.
long long assign_to_nearest(const kmeans_rows &rows, double *const *centres, int *labels, lloyd_work *work = nullptr);

// One Lloyd iteration: each centre moved to the mean of its rows (a centre without rows stays
// where it is), then every row given to its nearest centre. Returns the rows of all processes
// that changed class; *moved (when not null) gets the sum over classes, in class and feature
// order, of the squared move of the centre. work: storage to reuse (null: the call's own).
long long lloyd_step(const kmeans_rows &rows, double **centres, int *labels, double *moved = nullptr,
                     lloyd_work *work = nullptr);

// The mean over features of each feature's variance over the rows of every process (sums in
// row order, handed from process to process): the scale of a k-means tolerance.
double mean_feature_variance(const kmeans_rows &rows);

// Labels from the centres, then Lloyd iterations until no row changes class, the centres moved
// (lloyd_step's *moved) by at most tol x mean_feature_variance, or `budget` iterations ran (none
// for a budget of 0 or less). tol 0 stops only when no row changes class. Returns the
// iterations run.
int lloyd(const kmeans_rows &rows, double **centres, int *labels, int budget, double tol = 0.0);

}  // namespace mogem::detail

#endif
