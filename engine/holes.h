// EM on the observed values of rows with missing values (NaN): the record of the data's holes
// and the steps that use it in place of the complete-data ones.
//
// A model state whose m->holes is set has holes in its rows (on this process or another); the
// E-step (find_P_j_x) and the EM loop's M-step then take the paths below, and the start sees
// each hole filled with its feature's mean over the observed values. Without holes nothing here
// runs, so data without a NaN fit exactly as they always have.
//
// The model is the textbook EM on the observed-data likelihood. E-step: row i with observed
// features o gets from class k the marginal density N(x_o; mu_k,o, Sigma_k,oo): each class's
// precision is factorised once per step and a pattern missing at most twice as many features as
// it has factorises only its missing block of it (hole_blocks.h); another pattern factorises its
// observed block of the covariance. M-step: the expected sufficient
// statistics under the old model: a missing value's expectation is its conditional mean given
// the row's observed ones (the class mean for the scalar and diagonal kinds), and its second
// moment adds the conditional covariance of the missing block (the class variance for the
// scalar and diagonal kinds). Every sum over rows runs in ascending row order per accumulator,
// and on through the processes in rank order, so the bits depend on neither thread nor
// process count.
#ifndef MOGEM_ENGINE_HOLES_H
#define MOGEM_ENGINE_HOLES_H

#include <cstddef>
#include <vector>

#include "engine/em_types.h"
#include "engine/hole_blocks.h"

namespace mogem::detail {

// What the hole paths keep for a model state (this process's rows), built once per fit or
// prediction by holes_of.
struct hole_state {
  hole_patterns found;  // each row's pattern and the patterns' observed and missing features
  // Per row, the conditional means of its missing features under each class, from the last
  // E-step (FULL and TIED only; the other kinds' are the class means): row i's class k values
  // (in the order of its pattern's missing list) start at (first_missing[i - 1] * K) + (k - 1) q_i,
  // q_i the row's missing count; first_missing[i - 1] counts the missing values of rows before i.
  std::vector<std::size_t> first_missing;
  std::vector<double> conditional_means;
  // Per pattern, the conditional covariance of its missing block under each class, q x q
  // row-major from (first_block[p] * K) + (k - 1) q^2 (FULL and TIED only).
  std::vector<std::size_t> first_block;
  std::vector<double> conditional_covariances;
  // FULL, TIED: each row's class terms of the last E-step, -0.5 (distance + log determinant),
  // row after row ([(i - 1) K + k - 1]): the patterns leave them in row order, and the
  // posteriors follow row by row.
  std::vector<double> row_terms;
  int classes = 0;  // K the storage was made for
};

// Whether any of the rows of every process has a NaN: collective over m->share.
bool data_have_holes(const em_memory *m);

// The hole record of the model state's rows (m->data), its storage sized for m->classes and the
// kind. Throws std::bad_alloc as the allocator does.
hole_state holes_of(const em_memory *m);

// The start's view of the data: every hole filled with its feature's mean over the observed
// values of all processes (and, with center_data, those means kept as the centre and taken off
// every row, which leaves each hole at exactly 0). Refuses (invalid_input, collective) a
// feature with no observed value on any process.
void fill_holes_for_start(em_memory *m);

// The holes back as NaN once the start has seen the filled data.
void reopen_holes(em_memory *m);

// The E-step with holes, as find_P_j_x (em_estep.h) does it for complete rows: posteriors,
// the log densities when m->log_density is set, on at most `threads` threads; and, for FULL
// and TIED, each row's conditional means and each pattern's conditional covariances for the
// M-step. A covariance whose observed block cannot be factorised ends the run as the
// complete-data E-step's does (throw_singular_covariance).
void holes_posteriors(em_memory *m, int threads);

// The M-step of the kind with holes (covariance_kinds.h): weights, means, then the covariances
// around the new means, from the posteriors and the conditional statistics of the last E-step.
// Floors, classes of weight 0 and the returned weights' change as the complete-data M-step.
double m_step_holes_scalar(em_memory *m);
double m_step_holes_diag(em_memory *m);
double m_step_holes_full(em_memory *m);
double m_step_holes_tied(em_memory *m);

// out[(i - 1) F + (j - 1)] for each row: the observed value, or for a hole the posterior-weighted
// sum over the classes (ascending) of the class's conditional mean, from the posteriors and
// conditional statistics of the last E-step; in the rows' units as they stand in m->data (the
// caller undoes any centring).
void fill_holes_by_expectation(em_memory *m, double *out);

}  // namespace mogem::detail

#endif
