#include "io/parameter_keys.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mogem::detail {

namespace {

const char *const metric_names[] = {"euclidean", "correlation", "correlation_centered", nullptr};
const char *const em_type_names[] = {"scalar", "diagonal", "full", nullptr};
const char *const algorithm_names[] = {"em", "em_annealing", "em_mixture_of_t", nullptr};
const char *const init_names[] = {"church_means", "random_means", "random_point", "random_range",
                                  "random_sample", "file", "model", nullptr};
const char *const criterion_names[] = {"bic", "aic", "icl", nullptr};

const em_key_info keys[] = {
    {"rows", KEY_INTEGER, nullptr, "required", "number of data rows after \"begin\""},
    {"cols", KEY_INTEGER, nullptr, "required", "number of values (features) per row"},
    {"max_em_iterations", KEY_INTEGER, nullptr, "0",
     "EM step budget (per annealing stage); 0 runs no step and labels every row 1"},
    {"num_clusters", KEY_INTEGER, nullptr, "required",
     "number of classes; lowered to rows, with a warning, when larger"},
    {"distance_metric", KEY_KEYWORD, metric_names, "euclidean",
     "correlation scales rows and means to unit length; correlation_centered centres the data first"},
    {"em_type", KEY_KEYWORD, em_type_names, "diagonal",
     "covariance per class: one variance, one per feature, or a full matrix"},
    {"algorithm", KEY_KEYWORD, algorithm_names, "em",
     "plain EM, or annealing EM (one class at a high temperature, split as it cools); "
     "em_mixture_of_t is refused"},
    {"schedule_scalar", KEY_REAL, nullptr, "0.9", "annealing: temperature factor per stage, between 0 and 1"},
    {"init_temp", KEY_REAL, nullptr, "10.0", "annealing: starting temperature"},
    {"t", KEY_REAL, nullptr, "1.0", "accepted and ignored"},
    {"random_seed", KEY_INTEGER, nullptr, "42", "seed of the random initializations (s and -s, 0 and 1 agree)"},
    {"init_method", KEY_KEYWORD, init_names, "church_means",
     "initial means: centroid then farthest points, a random partition, random points, random points "
     "of the bounding box, averages of random samples, read from means_file, or the whole model of "
     "init_model (a warm start at full precision)"},
    {"means_file", KEY_TEXT, nullptr, "none", "file of num_clusters rows of cols numbers, for init_method file"},
    {"num_samples", KEY_INTEGER, nullptr, "0", "points averaged per mean by random_sample (at least 1)"},
    {"output_model", KEY_BOOLEAN, nullptr, "0", "also write the .means, .variances, .weights and .probs files"},
    {"output_stepsize", KEY_INTEGER, nullptr, "0",
     "write snapshots NNNNN.means, .variances, .labels every so many EM steps; 0 never"},
    {"output_internal", KEY_BOOLEAN, nullptr, "0", "also write the data as the algorithm sees them (.internal)"},
    {"fast", KEY_REAL, nullptr, "off", "accepted and ignored"},
    {"output_summary", KEY_BOOLEAN, nullptr, "0",
     "also write .summary.json: the log-likelihood, BIC, AIC, ICL, steps and every restart"},
    {"num_restarts", KEY_INTEGER, nullptr, "1",
     "random initializations only: fits from so many seeds derived from random_seed, the highest "
     "log-likelihood kept"},
    {"convergence_threshold", KEY_REAL, nullptr, "1e-6",
     "EM stops when the weight changes of its last four steps sum below this"},
    {"reg_covar", KEY_REAL, nullptr, "0",
     "added to every variance (covariance diagonal) after each update; 1e-6 keeps singular "
     "covariances invertible"},
    {"model_file", KEY_TEXT, nullptr, "none", "also write the whole fitted model there as JSON"},
    {"predict_with", KEY_TEXT, nullptr, "none",
     "fit nothing: label the rows with this saved model (rows and cols suffice)"},
    {"init_model", KEY_TEXT, nullptr, "none", "the saved model init_method model starts from"},
    {"select_classes", KEY_TEXT, nullptr, "none",
     "fit every class count from A to B (num_clusters not needed), write .selection.tsv "
     "and keep the best", "A:B"},
    {"select_em_types", KEY_TEXT, nullptr, "em_type",
     "the kinds to select among", "kinds separated by commas, such as scalar,diagonal,full"},
    {"select_criterion", KEY_KEYWORD, criterion_names, "bic", "what the selection minimises"},
};

const int key_count = sizeof keys / sizeof keys[0];

}  // namespace

bool whole_integer(const char *value, long *out) {
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(value, &end, 10);
  if (out) *out = v;
  return end != value && *end == '\0' && errno == 0;
}

bool whole_real(const char *value, double *out) {
  char *end = nullptr;
  const double v = std::strtod(value, &end);
  if (out) *out = v;
  return end != value && *end == '\0';
}

const em_key_info *em_parameter_keys(int *count) {
  *count = key_count;
  return keys;
}

const em_key_info *find_em_key(const char *key) {
  for (const em_key_info &info : keys)
    if (std::strcmp(info.key, key) == 0) return &info;
  return nullptr;
}

bool em_key_value_ok(const em_key_info *info, const char *value) {
  // The reader takes whitespace-separated tokens of at most 511 characters.
  if (std::strpbrk(value, " \t\n\r\v\f") || std::strlen(value) > 511) return false;
  switch (info->kind) {
    case KEY_INTEGER:
      return whole_integer(value);
    case KEY_REAL:
      return whole_real(value);
    case KEY_KEYWORD:
      for (const char *const *k = info->keywords; *k; k++)
        if (std::strcmp(*k, value) == 0) return true;
      return false;
    case KEY_BOOLEAN:
    case KEY_TEXT:
      break;
  }
  return *value != '\0';
}

}  // namespace mogem::detail
