#include "engine/names.h"

namespace mogem::detail {

const char *kind_name(covariance_kind kind) {
  switch (kind) {
    case covariance_kind::scalar: return "scalar";
    case covariance_kind::diagonal: return "diagonal";
    case covariance_kind::tied: return "tied";
    case covariance_kind::full: break;
  }
  return "full";
}

const char *metric_name(metric distance) { return distance == metric::correlation ? "correlation" : "euclidean"; }

const char *algorithm_name(algorithm method) {
  switch (method) {
    case algorithm::em: return "em";
    case algorithm::annealing: return "annealing";
    case algorithm::mixture_of_t: break;
  }
  return "mixture_of_t";
}

const char *criterion_name(criterion by) {
  switch (by) {
    case criterion::bic: return "bic";
    case criterion::aic: return "aic";
    case criterion::icl: break;
  }
  return "icl";
}

}  // namespace mogem::detail
