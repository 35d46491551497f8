#include "engine/breakdown.h"

#include <cmath>
#include <string>

#include "distances/dist_metrics.h"
#include "engine/covariance_kinds.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// The remedy in options fields, and in the parameter file's keys.
const char *const REMEDY =
    "choose other starting means (another init or random_seed), fewer classes, or data on a scale whose squared "
    "distances stay finite";
const char *const REMEDY_IN_FILE_TERMS =
    "choose other initial means (another init_method or random_seed), fewer classes, or data on a scale whose "
    "squared distances stay finite";

// Without reg_covar, a mean that coincides with another starts with a variance of 0; reg_covar
// gives it one above.
[[noreturn]] void broke_down(const em_memory *m, const std::string &when, const std::string &what) {
  const std::string happened = "the fit broke down " + when + ": " + what + " became not-a-number; ";
  const bool without = m->params->reg_covar == 0.0;
  throw error(error::kind::breakdown, happened + (without ? "set reg_covar, e.g. 1e-6, " : "") + REMEDY)
      .about(without ? "reg_covar" : "init", happened + REMEDY_IN_FILE_TERMS);
}

bool any_nan(const double *values, long count) {
  for (long e = 0; e < count; e++)
    if (std::isnan(values[e])) return true;
  return false;
}

}  // namespace

void refuse_zero_length_rows(em_memory *m) {
  const int F = m->features;
  one_based_vector<double> origin(F);  // zero
  long long zero_row = 0;
  for (int i = 1; i <= m->datapoints && !zero_row; i++)
    if (euclidean(origin.get(), m->data[i], F) == 0.0) zero_row = m->share.first + i;
  if (zero_row)
    refuse(
        "row %lld of %s has length zero%s; the correlation metric scales every row to unit length and cannot "
        "scale this one: remove the row or choose distance_metric euclidean",
        zero_row, m->params->data_name.empty() ? "the data" : m->params->data_name.c_str(),
        m->params->center_data ? " once centred" : "");
}

void stop_if_model_broke_down(em_memory *m, int step) {
  const int K = m->classes, F = m->features;
  const std::string when = "at EM step " + std::to_string(step);
  if (any_nan(&m->P_j[1], K)) broke_down(m, when, "the mixture weights");
  const covariance_kind_ops &ops = *m->kind;
  const long per_class = ops.values_per_class(F);
  for (int k = 1; k <= K; k++) {
    if (any_nan(m->class_means[k] + 1, F)) broke_down(m, when, "the mean of class " + std::to_string(k));
    for (long e = 0; e < per_class; e++)
      if (std::isnan(ops.value(m->class_variances, k, F, e)))
        broke_down(m, when, "the covariance of class " + std::to_string(k));
  }
}

void stop_if_posteriors_broke_down(em_memory *m) {
  // The lowest class broken on any process is the one named.
  double first_broken = m->classes + 1;
  for (int k = 1; k <= m->classes && first_broken > m->classes; k++)
    if (any_nan(m->P_j_x[k] + 1, m->datapoints)) first_broken = k;
  for (double k : gather_from_all(m->share, &first_broken, 1))
    if (k < first_broken) first_broken = k;
  if (first_broken <= m->classes)
    broke_down(m, "in the final E-step", "the posteriors of class " + std::to_string(static_cast<int>(first_broken)));
}

}  // namespace mogem::detail
