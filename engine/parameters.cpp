#include "engine/parameters.h"

#include "distances/metric_codes.h"
#include "initializations/init_methods.h"

namespace mogem::detail {

namespace {

int code_of(algorithm method) {
  switch (method) {
    case algorithm::em: return ALGORITHM_EM;
    case algorithm::annealing: return ALGORITHM_DA_EM;
    case algorithm::mixture_of_t: break;
  }
  return ALGORITHM_EM_MOT;
}

int init_code(initialization init) {
  switch (init) {
    case initialization::church_means: return CHURCH_MEANS;
    case initialization::random_means: return RANDOM_MEANS;
    case initialization::random_point: return RANDOM_POINT;
    case initialization::random_range: return RANDOM_RANGE;
    case initialization::random_sample: return RANDOM_SAMPLE;
    case initialization::means_file: return FROM_FILE;
    case initialization::given_means: return GIVEN_MEANS;
    case initialization::kmeans: return KMEANS;
    case initialization::kmeans_plus_plus: return KMEANS_PLUS_PLUS;
    case initialization::random_responsibilities: return RANDOM_RESPONSIBILITIES;
    case initialization::random_from_data: return RANDOM_FROM_DATA;
    case initialization::saved_model: break;
  }
  return FROM_MODEL;
}

}  // namespace

int kind_code(covariance_kind kind) {
  switch (kind) {
    case covariance_kind::scalar: return SCALAR;
    case covariance_kind::diagonal: return DIAG;
    case covariance_kind::tied: return TIED;
    case covariance_kind::full: break;
  }
  return FULL;
}

em_parameters parameters_of(const options &o, std::size_t rows, std::size_t cols) {
  em_parameters p{};
  p.num_data = static_cast<int>(rows);
  p.num_features = static_cast<int>(cols);
  p.num_classes = o.classes;
  p.random_seed = o.random_seed;
  p.max_em_iterations = o.max_iterations;
  p.algorithm = code_of(o.method);
  p.distance_metric = o.distance == metric::correlation ? CORRELATION : EUCLIDEAN;
  p.center_data = o.center ? 1 : 0;
  p.schedule_scalar = o.schedule_scalar;
  p.init_temp = o.init_temp;
  p.samples = o.samples;
  p.t = 1.0;
  p.init_method = init_code(o.init);
  p.em_type = kind_code(o.covariance);
  p.output_stepsize = o.snapshot_every;
  if (const auto *file = std::get_if<means_file_start>(&o.start)) p.means_file = file->path;
  if (const auto *means = std::get_if<std::vector<double>>(&o.start)) p.given_means = means->data();
  p.data_name = o.data_name.empty() ? "the data" : "the data of " + o.data_name;
  p.convergence_threshold = o.convergence_threshold;
  p.reg_covar = o.reg_covar;
  p.variance_floor = o.variance_floor;
  p.kmeans_iterations = o.kmeans_iterations;
  p.kmeans_tol = o.kmeans_tol;
  p.loglik_rule = o.stop == stop_rule::loglik;
  p.tol = o.tol;
  p.start_objective = o.start_objective;
  return p;
}

}  // namespace mogem::detail
