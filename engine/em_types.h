// The two records that carry a whole run: the parameters of the fit and the model state every
// step of the engine works on.
//
// Index letters: data point i = 1..N (`datapoints`), feature j = 1..F (`features`), class
// k = 1..K (`classes`). Every container is one-based (nr/one_based.h) and sized from the
// parameter record's counts; `classes` in the model state may later be lower than the
// configured class count, and the rows above it then stay unused.
#ifndef MOGEM_ENGINE_EM_TYPES_H
#define MOGEM_ENGINE_EM_TYPES_H

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/processes.h"
#include "nr/one_based.h"
#include "mogem/mogem.h"

namespace mogem::detail {

// Covariance kinds, the values of `em_type`.
// TIED: one full covariance shared by all classes.
enum em_kind { SCALAR = 0, DIAG = 1, FULL = 2, TIED = 3 };

// Algorithm codes, the values of `algorithm`.
enum algorithm_code {
  ALGORITHM_DA_EM = 0,  // "em_annealing": deterministic-annealing EM
  ALGORITHM_EM = 1,     // "em": plain EM
  ALGORITHM_KMEANS = 2, // a display name only; the parameter file cannot select it
  ALGORITHM_EM_MOT = 3  // "em_mixture_of_t": accepted, but not available
};

// Display names of the algorithm codes 0..3.
extern const char *const algorithm_names[4];

// The engine's record of one fit's settings, built from mogem::options in one place
// (parameters_of, engine/parameters.h).
struct em_parameters {
  int num_data;           // N, rows of the data matrix
  int num_features;       // F, columns
  int32_t random_seed;    // configured seed
  int max_em_iterations;  // iterations of one call of the EM loop
  int algorithm;          // algorithm_code
  int distance_metric;    // metric_code (EUCLIDEAN or CORRELATION)
  int center_data;        // 1: centre every feature on its mean before initialization
  int num_classes;        // K as configured; every class-indexed container is sized from it
  double schedule_scalar; // cooling factor of the annealing schedule
  double init_temp;       // starting temperature of the annealing schedule
  int samples;            // points averaged per mean by the sample initialization
  double t;               // 1; no step of a run reads it
  int init_method;        // init_method_code
  int em_type;            // em_kind
  int output_stepsize;    // period of the numbered snapshots; 0 or less: none
  std::string means_file; // means file of the file initialization; empty when none was named
  const double *given_means;  // GIVEN_MEANS: K x F means, row-major (the caller's options)
  std::string data_name;  // what messages call the data ("the data of in.txt")
  double convergence_threshold;  // the EM loop stops when its last four weight changes sum below this
  double reg_covar;              // added to every updated variance (covariance diagonal); 0: nothing
  double variance_floor;         // every updated variance (covariance diagonal) is held at or above this
  bool loglik_rule;              // the EM loop stops on the change of the mean log-likelihood per row ...
  double tol;                    // ... when it is below this (else on the weight changes)
  double start_objective = -HUGE_VAL;  // plain EM under that rule: the objective its first step's change is taken from
  int kmeans_iterations;         // KMEANS: Lloyd's iterations at most
  double kmeans_tol;             // KMEANS: stop when the centres' squared move is below this x the mean variance
};

// The variances one M-step re-estimated and those of them it held at the floor (hold_at_floor,
// em_mstep.h).
struct floor_count {
  long held = 0;
  long seen = 0;
};

// Variances of every class, or their inverses; only the member of the run's kind (`em_type`)
// is made, the others stay empty.
struct em_variances {
  one_based_vector<double> scalar;  // SCALAR: 1..K
  one_based_matrix diagonal;        // DIAG: 1..K x 1..F
  one_based_tensor full;            // FULL: 1..K x 1..F x 1..F; TIED: the same shape (covariance_kinds.h)
  double shared_log_det = 0.0;      // TIED: ln det of the shared covariance, taken with class 1's
};

struct em_memory;

// The signatures of the covariance kind's EM operations (covariance_kinds.h).
typedef void (*em_step_op)(em_memory *m);
typedef double (*em_class_value_op)(em_memory *m, int k);
typedef double (*em_distance_op)(em_memory *m, int i, int k);
typedef void (*em_class_op)(em_memory *m, int k);

struct covariance_kind_ops;
struct kernel_set;

// The sums of the M-step's first pass (each class's weight, its sums of w x and, when the kind
// takes them, of x (w x)), taken by an E-step while each block of rows and its posteriors were
// still in the cache (em_estep.h); the next M-step takes them instead of a pass of its own.
struct early_mean_sums {
  bool wanted = false;  // set by the EM loop for an E-step that an M-step follows
  bool taken = false;   // the E-step took the sums of rows 1..rows; cleared by the M-step
  int rows = 0;         // the rows 1..rows whose terms they hold, the first part's of the E-step
  one_based_matrix means, squares;  // 1..K x 1..F, laid out as class_means
  std::vector<double> weights;      // 1..K
};
struct hole_state;  // engine/holes.h

// What the running E-step is for, so that a failure in it is told in words (failures.h): a step
// of the fit, the final E-step after the last step, or a prediction with a fitted model.
enum class estep_purpose { fit_step, after_fit, prediction };

// The model state. It owns every container; the parameter record, the caller's rows when the
// data are borrowed, the callbacks and the starting model are the caller's.
struct em_memory {
  em_parameters *params = nullptr;  // the run's parameters (not owned)
  const covariance_kind_ops *kind = nullptr;  // everything that differs per covariance kind (covariance_kinds.h)
  const kernel_set *kernels = nullptr;        // the code path of the block kernels (engine/kernels/kernels.h)
  int features = 0;       // F
  int datapoints = 0;     // N, the rows this process holds (all of them unless share says otherwise)
  int classes = 0;        // classes in effect: K, or N when K > N; moved by annealing
  one_based_vector<int> classifications;  // 1..N: hard label of each point
  one_based_matrix data;                  // 1..N x 1..F: its own, or the caller's rows in place
  double inv_temp = 1.0;  // exponent of the E-step: 1 for plain EM, the inverse temperature under annealing
  one_based_vector<double> P_j;           // 1..K: mixture weights
  one_based_matrix class_means;           // 1..K x 1..F
  em_variances class_variances;
  one_based_matrix P_j_x;                 // 1..K x 1..N: posterior of class k for point i, class first
  em_variances inv_covariance;
  one_based_vector<double> log_det;       // 1..K
  one_based_vector<double> log_p_j;       // 1..K
  one_based_vector<double> centre;        // 1..F: the column means subtracted (center_data), else empty
  int32_t generator_state = 0;  // the uniform generator's state word once seeded (run.h): the seed
                                // the initializations receive
  int threads = 1;              // at most this many threads for a step
  int steps = 0;                // EM steps run so far, over all annealing stages
  bool converged = false;       // the last EM loop stopped by the rule, not the budget
  bool stopped_by_loglik = false;  // and by the log-likelihood rule (else by the weights)
  double last_change = 0.0;     // what the rule last measured (model::last_change)
  floor_count at_floor;         // the variances of the last M-step, and those held at the floor
  const callbacks *hooks = nullptr;  // the caller's callbacks (not owned); null for none
  progress stage{};                  // annealing: the stage the progress callback reports
  row_share share;                   // this process's rows among all; alone, rows 1..N are all
  // When not null, each E-step at an exponent b above 0 also writes (1/b) log sum_k (P_j[k]
  // N(x_i | k))^b into log_density[i - 1] (N values, the caller's): at exponent 1 the log
  // density of point i, under annealing the stage's objective for the point.
  double *log_density = nullptr;
  const model *start = nullptr;  // FROM_MODEL: the model to start from (the caller's)
  int restart = 0;               // which restart this fit is, for the progress callback
  estep_purpose estep = estep_purpose::fit_step;  // what the next E-step is for
  // Missing values fitted by EM (engine/holes.h): the rows' holes, set only when the rows of some
  // process have one; null: the complete-data steps.
  std::shared_ptr<hole_state> holes;
  early_mean_sums early;  // the M-step's first sums, when the E-step took them
};

}  // namespace mogem::detail

#endif
