#include "engine/failures.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/covariance_kinds.h"
#include "engine/model_starts.h"
#include "initializations/init_methods.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// The texts of the factorisations (numeric/dmat_inverse.h).
const char *const CHOLESKY_FAILED = "NR_dcholdc failed";
const char *const LU_SINGULAR = "Singular matrix in routine NR_dludcmp";

std::string number(double x) { return format_text("%g", x); }

// Why class k's covariance cannot be factorised, read off its variances, with the remedy; the
// options field the remedy turns on first.
struct diagnosis {
  std::string cause, remedy, setting;
};

std::string reg_covar_advice(const em_memory *m) {
  const double now = m->params->reg_covar;
  return now == 0.0 ? "set reg_covar, e.g. 1e-6" : "raise reg_covar above " + number(now) + ", e.g. to 1e-6";
}

diagnosis diagnose(em_memory *m, int k) {
  const int F = m->features;
  one_based_vector<double> variances(F);
  m->kind->feature_variances(m->class_variances, k, F, variances.get());
  int zero = 0, first_zero = 0;
  for (int j = F; j >= 1; j--)
    if (!(variances[j] > 0.0)) zero++, first_zero = j;
  const std::string reg_covar = reg_covar_advice(m);
  // No step has run: the variance is still the start's (the distance to the closest other mean,
  // plus reg_covar, so zero only without it).
  const int init = m->params->init_method;
  const bool spherical_start = init != FROM_MODEL && !starts_from_responsibilities(init);
  if (zero == F && m->steps == 0 && m->estep != estep_purpose::prediction && spherical_start)
    return {"its starting variance is zero: its starting mean coincides with another class's",
            "set reg_covar, e.g. 1e-6, choose other starting means (another init or random_seed) or fewer classes",
            "reg_covar"};
  if (zero == F)
    return {"all its variances are zero: the rows it holds are alike", reg_covar + ", or use fewer classes",
            "reg_covar"};
  if (zero > 0)
    return {"feature " + std::to_string(first_zero) + " does not vary among the rows it holds",
            reg_covar + ", or use fewer classes", "reg_covar"};
  return {"it is not positive definite: the rows it holds lie on a line or a plane, or are fewer than the features",
          reg_covar + ", use fewer classes or the diagonal kind", "reg_covar"};
}

std::string when(const em_memory *m) {
  switch (m->estep) {
    case estep_purpose::fit_step:
      return " at EM step " + std::to_string(m->steps);
    case estep_purpose::after_fit:
      return " in the final E-step, after " + std::to_string(m->steps) + " EM steps";
    case estep_purpose::prediction:
      break;
  }
  return " in the fitted model";
}

}  // namespace

bool is_factorisation_failure(const error &cause) {
  if (cause.what_kind() != error::kind::numerical_failure) return false;
  const std::string text = cause.what();
  return text == CHOLESKY_FAILED || text == LU_SINGULAR;
}

void throw_singular_covariance(em_memory *m, int k, const error &cause) {
  const diagnosis d = diagnose(m, k);
  const std::string remedy = m->estep == estep_purpose::prediction ? "fit the model again: " + d.remedy : d.remedy;
  // The tied kind factorises its one shared covariance with class 1.
  const std::string subject = m->params->em_type == TIED ? "the shared covariance of the tied kind"
                                                         : "the covariance of class " + std::to_string(k);
  error failure(error::kind::numerical_failure, subject + " is singular" + when(m) + " (" + d.cause + "): " + remedy);
  failure.about(d.setting, cause.in_file_terms());
  if (cause.has_own_heading()) failure.with_own_heading();
  throw failure;
}

std::string count_in_words(long long count) {
  std::string digits = std::to_string(count < 0 ? -count : count), out;
  for (std::size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return count < 0 ? "-" + out : out;
}

std::string bytes_in_words(double bytes) {
  static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  int u = 0;
  while (bytes >= 1024.0 && u < 6) bytes /= 1024.0, u++;
  if (u == 0) return format_text("%.0f bytes", bytes);
  return format_text(bytes < 10.0 ? "%.1f %s" : "%.0f %s", bytes, units[u]);
}

void throw_beyond_memory(const em_parameters &p, bool data_copied, bool predicting, const error &cause) {
  const double N = p.num_data, F = p.num_features, K = p.num_classes, value = sizeof(double);
  const double per_class = static_cast<double>(kind_ops(p.em_type).values_per_class(p.num_features));
  const double posteriors = K * N * value, covariances = 2.0 * K * per_class * value;
  const double data = data_copied ? N * F * value : 0.0;
  // Labels, means, weights and the per-row log densities besides.
  const double total = posteriors + covariances + data + N * (sizeof(int) + value) + K * (F + 4.0) * value;
  const std::string rows = count_in_words(p.num_data), classes = count_in_words(p.num_classes);
  std::string part, remedy;
  if (posteriors >= covariances && posteriors >= data) {
    part = rows + " rows x " + classes + " classes of posteriors need " + bytes_in_words(posteriors);
    remedy =
        predicting ? "predict fewer rows at a time" : "use fewer classes or fewer rows, or fit over several processes";
  } else if (covariances >= data) {
    const std::string features = count_in_words(p.num_features);
    part = p.em_type == FULL ? classes + " full covariances of " + features + " x " + features +
                                   " features and their inverses need " + bytes_in_words(covariances)
                             : classes + " classes' variances and their inverses need " + bytes_in_words(covariances);
    remedy =
        p.em_type == FULL ? "use fewer classes or features, or the diagonal kind" : "use fewer classes or features";
  } else {
    part =
        "the copy of " + rows + " rows x " + count_in_words(p.num_features) + " features needs " + bytes_in_words(data);
    remedy = predicting ? "predict fewer rows at a time"
                        : "fit in place (fit_in_place), with fewer rows, or over several processes";
  }
  const unsigned long long machine = machine_memory();
  std::string against = "more than could be had";
  if (machine != ULLONG_MAX)
    against = (total > static_cast<double>(machine) ? "more than this machine's "
                                                    : "more than could be had of this machine's ") +
              bytes_in_words(static_cast<double>(machine)) + " of memory and swap";
  error failure(error::kind::numerical_failure, part + " (" + bytes_in_words(total) + " for the whole " +
                                                    (predicting ? "prediction" : "fit") + "), " + against + ": " +
                                                    remedy);
  failure.about("classes", cause.in_file_terms());
  if (cause.has_own_heading()) failure.with_own_heading();
  throw failure;
}

}  // namespace mogem::detail
