#include "engine/fit_checks.h"

#include <climits>
#include <cmath>

#include "engine/names.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// A setting that cannot run: what() names the options field, `in_file` says the same in the
// parameter file's keys (empty: in the same words).
[[noreturn]] void refuse_setting(const char *field, const std::string &text, const std::string &in_file = {}) {
  throw error(error::kind::invalid_input, text).about(field, in_file);
}

// Restarts, snapshots and the stop rule.
void check_runs(const options &o) {
  if (o.classes < 1)
    refuse_setting("classes", format_text("classes is %d; it must be at least 1", o.classes),
                   format_text("the number of classes is %d; it must be at least 1", o.classes));
  if (o.restarts < 1)
    refuse_setting("restarts", format_text("restarts is %d; it must be at least 1", o.restarts),
                   format_text("num_restarts is %d; it must be at least 1", o.restarts));
  if (!(o.reg_covar >= 0.0) || !std::isfinite(o.reg_covar))
    refuse_setting("reg_covar", format_text("reg_covar is %g; it must be a finite number of 0 or more", o.reg_covar));
  if (!(o.variance_floor >= 0.0) || !std::isfinite(o.variance_floor))
    refuse_setting("variance_floor",
                   format_text("variance_floor is %g; it must be a finite number of 0 or more", o.variance_floor));
  if (!(o.convergence_threshold >= 0.0) || std::isnan(o.convergence_threshold))
    refuse_setting("convergence_threshold",
                   format_text("convergence_threshold is %g; it must be 0 or more", o.convergence_threshold));
  if (!(o.tol >= 0.0) || !std::isfinite(o.tol))
    refuse_setting("tol", format_text("tol is %g; it must be a finite number of 0 or more", o.tol));
  // Annealing splits the widest class as it cools; classes that share one covariance are all
  // equally wide, so there is no class to choose.
  const char *no_widest = "annealing (%s) splits the widest class as it cools, and tied classes share one covariance; "
                          "use %s with %s tied, or another covariance kind with annealing";
  if (o.covariance == covariance_kind::tied && o.method == algorithm::annealing)
    refuse_setting("method", format_text(no_widest, "method annealing", "method em", "covariance"),
                   format_text(no_widest, "algorithm em_annealing", "algorithm em", "em_type"));
  // Missing values are fitted on each row's observed values, which neither a row rescaled to unit
  // length nor the annealing path can work with.
  if (o.missing == missing_values::em && o.distance == metric::correlation)
    refuse_setting("distance",
                   "missing em cannot go with the correlation metric: it rescales each row to unit length, which a "
                   "row with missing values does not have; use the euclidean metric or fill the holes first",
                   "missing_values em cannot go with distance_metric correlation: it rescales each row to unit "
                   "length, which a row with missing values does not have; use distance_metric euclidean or fill "
                   "the holes first");
  if (o.missing == missing_values::em && o.method == algorithm::annealing)
    refuse_setting("method",
                   "missing em fits by plain EM only: annealing splits classes as it cools and does not take the "
                   "observed values of incomplete rows; use method em or fill the holes first",
                   "missing_values em fits by plain EM only: annealing (algorithm em_annealing) splits classes as it "
                   "cools and does not take the observed values of incomplete rows; use algorithm em or fill the "
                   "holes first");
  const char *no_draws =
      "%s is %d, but this initialization draws no random numbers, so every restart would give the same fit; "
      "choose %srandom_means, random_point, random_range or random_sample, or %s 1";
  if (o.restarts > 1 && !is_random(o.init))
    refuse_setting("restarts", format_text(no_draws, "restarts", o.restarts, "init ", "restarts"),
                   format_text(no_draws, "num_restarts", o.restarts, "", "num_restarts"));
  const char *several = "snapshots (%s %d) follow one fit; with %s %d there are several. Set %s 0 or %s 1";
  if (o.restarts > 1 && o.snapshot_every > 0)
    refuse_setting("snapshot_every",
                   format_text(several, "snapshot_every", o.snapshot_every, "restarts", o.restarts, "snapshot_every",
                               "restarts"),
                   format_text(several, "output_stepsize", o.snapshot_every, "num_restarts", o.restarts,
                               "output_stepsize", "num_restarts"));
}

const char *metric_of(bool unit_length) { return unit_length ? "correlation" : "euclidean"; }

// The whole model of initialization::saved_model.
void check_start_model(const options &o, std::size_t cols) {
  const auto *held = std::get_if<std::shared_ptr<const model>>(&o.start);
  if (!held || !*held)
    refuse_setting("start", "init saved_model needs a model to start from (start)",
                   "init_method model needs a model to start from (init_model)");
  const model &start = **held;
  if (o.method != algorithm::em)
    refuse_setting("method",
                   "init saved_model starts plain EM from a saved model; annealing starts from one class. Use "
                   "method em",
                   "init_method model starts plain EM from a saved model; annealing starts from one class. Use "
                   "algorithm em");
  const char *classes = "the starting model has %d classes; the fit asks for %d (%s)";
  if (start.classes != o.classes)
    refuse_setting("classes", format_text(classes, start.classes, o.classes, "classes"),
                   format_text(classes, start.classes, o.classes, "num_clusters"));
  const char *kinds = "the starting model has %s covariances; the fit asks for %s (%s)";
  if (start.kind != o.covariance)
    refuse_setting("covariance", format_text(kinds, kind_name(start.kind), kind_name(o.covariance), "covariance"),
                   format_text(kinds, kind_name(start.kind), kind_name(o.covariance), "em_type"));
  const char *metrics = "the starting model was fitted with the %s metric; the fit asks for %s (%s)";
  const bool unit_length = o.distance == metric::correlation;
  if (start.unit_length != unit_length)
    refuse_setting("distance",
                   format_text(metrics, metric_of(start.unit_length), metric_of(unit_length), "distance"),
                   format_text(metrics, metric_of(start.unit_length), metric_of(unit_length), "distance_metric"));
  if (start.features != static_cast<int>(cols))
    refuse_setting("start", format_text("the starting model has %d features; the data have %zu", start.features, cols));
}

// The means of initialization::given_means: one row of finite values per class.
void check_given_means(const options &o, std::size_t cols) {
  const auto *means = std::get_if<std::vector<double>>(&o.start);
  const std::size_t needed = static_cast<std::size_t>(o.classes) * cols;
  const std::size_t held = means ? means->size() : 0;
  if (held != needed)
    refuse_setting("start", format_text("the initial means hold %zu values; %zu are needed (%d classes x %zu features)",
                                        held, needed, o.classes, cols));
  for (std::size_t e = 0; e < needed; e++)
    if (!std::isfinite((*means)[e]))
      refuse_setting("start", format_text("the initial mean of class %zu, feature %zu is not a finite number",
                                          e / cols + 1, e % cols + 1));
}

}  // namespace

void check_shape(std::size_t rows, std::size_t cols, const char *what) {
  if (rows < 1 || cols < 1)
    refuse("%s hold %zu rows of %zu values; at least one row of one value is needed", what, rows, cols);
  if (rows > static_cast<std::size_t>(INT_MAX) || cols > static_cast<std::size_t>(INT_MAX))
    refuse("%s hold %zu rows of %zu values; at most %d of each can be fitted", what, rows, cols, INT_MAX);
}

void check_finite(const double *values, std::size_t rows, std::size_t cols, const std::string &name,
                  std::size_t first, bool holes_allowed) {
  for (std::size_t i = 0; i < rows; i++) {
    std::size_t holes = 0;
    for (std::size_t j = 0; j < cols; j++) {
      const double value = values[i * cols + j];
      if (std::isfinite(value)) continue;
      if (holes_allowed && std::isnan(value)) {
        holes++;
        continue;
      }
      const std::string text = format_text("%s hold %s at row %zu, column %zu; every value must be a finite number",
                                           name.c_str(), std::isnan(value) ? "a NaN" : "an infinite value",
                                           first + i + 1, j + 1);
      if (!std::isnan(value)) throw error(error::kind::invalid_input, text);
      // The remedy in each face's words: a NaN is a missing value once missing values are fitted.
      throw error(error::kind::invalid_input, text + " (a NaN is a missing value, fitted on the row's observed "
                                                     "values, only under options.missing = em)")
          .about("missing", text + " (nan is a missing value, fitted on the row's observed values, only under "
                            "missing_values em)");
    }
    if (holes == cols)
      refuse("%s have no observed value in row %zu (every value is missing); remove the row or give it a value",
             name.c_str(), first + i + 1);
  }
}

void check_settings(const options &o, std::size_t cols) {
  check_runs(o);
  if (o.init == initialization::saved_model) check_start_model(o, cols);
  if (o.init == initialization::given_means) check_given_means(o, cols);
}

}  // namespace mogem::detail
