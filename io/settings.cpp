#include "io/settings.h"

#include "io/parameter_section.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mogem::detail {

namespace {

// strtol on the start of the token, clamped to the signed 32-bit range.
int32_t integer(const char *value) {
  const long v = std::strtol(value, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

double real(const char *value) { return std::strtod(value, nullptr); }

bool boolean(const char *value) { return parse_bool(value) == 1; }

bool is(const char *value, const char *word) { return std::strcmp(value, word) == 0; }

options &opt(section_settings &s) { return s.file.settings; }

constexpr unsigned FITS = FIT_RUN | SELECT_RUN;  // the runs that fit
const double NO_LIMIT = HUGE_VAL;
constexpr unsigned COMMANDS = FIT_RUN | SELECT_RUN | PREDICT_RUN;

setting flagged(setting row, const command_flag &flag) {
  row.flag = flag;
  return row;
}

std::vector<setting> sizes_and_algorithm_rows() {
  using v = value_kind;
  return {
      {"rows", v::integer, {}, "required", "rows (program)", EVERY_RUN, "number of data rows after \"begin\"", nullptr,
       [](section_settings &s, const char *x) { s.rows = integer(x); }},
      {"cols", v::integer, {}, "required", "cols (program)", EVERY_RUN, "number of values (features) per row", nullptr,
       [](section_settings &s, const char *x) { s.cols = integer(x); }},
      flagged({"max_em_iterations", v::integer, {}, "0", "options.max_iterations", EVERY_RUN,
       "EM step budget (per annealing stage); 0 runs no step and labels every row 1", nullptr,
       [](section_settings &s, const char *x) { opt(s).max_iterations = integer(x); }},
              {"max-iter", 0, FITS, "100", nullptr, "EM step budget (per annealing stage)", 1, INT_MAX}),
      flagged({"num_clusters", v::integer, {}, "required", "options.classes", EVERY_RUN,
       "number of classes; lowered to rows, with a warning, when larger", nullptr,
       [](section_settings &s, const char *x) { opt(s).classes = integer(x); }},
              {"classes", 'k', FIT_RUN, nullptr, nullptr, "number of classes (not with --init-model, whose model gives it)", 1, INT_MAX}),
      flagged({"distance_metric", v::keyword, {"euclidean", "correlation", "correlation_centered"}, "euclidean",
       "options.distance, options.center", EVERY_RUN,
       "correlation scales rows and means to unit length; correlation_centered centres the data first", nullptr,
       [](section_settings &s, const char *x) {
         opt(s).distance = is(x, "euclidean") ? metric::euclidean : metric::correlation;
         if (is(x, "correlation_centered")) opt(s).center = true;  // never reset by a later metric
       },
       "Unsupported distance metric: ", "\nDefaulting to Euclidean"},
              {"metric", 0, FITS}),
      flagged({"center", v::boolean, {}, "0", "options.center", EVERY_RUN,
               "subtract each feature's mean from the rows first, under any metric (correlation_centered implies it)",
               nullptr, [](section_settings &s, const char *x) { opt(s).center = opt(s).center || boolean(x); }},
              {"center", 0, FITS, nullptr, "1"}),
      flagged({"missing_values", v::keyword, {"refuse", "em"}, "refuse", "options.missing", EVERY_RUN,
       "a missing value, the token nan (any case) in the data rows: refused, naming its row and column; or em: "
       "each row fitted (or labelled) on its observed values, under the euclidean metric and plain EM, and "
       ".imputed written, the rows with each missing value filled in",
       nullptr,
       [](section_settings &s, const char *x) {
         opt(s).missing = is(x, "em") ? missing_values::em : missing_values::refuse;
       },
       nullptr, nullptr, "refuse or em"},
              {"missing", 0, COMMANDS, nullptr, nullptr,
               "a missing value (an empty or NA field, a NaN in .npy): refused, naming its line and column; or em: "
               "each row fitted (predict: labelled) on its observed values, under the euclidean metric and plain "
               "EM, and with -o PREFIX.imputed written, the rows with each missing value filled in"}),
      flagged({"em_type", v::keyword, {"scalar", "diagonal", "full", "tied"}, "diagonal", "options.covariance", EVERY_RUN,
       "covariance per class: one variance, one per feature, or a full matrix; tied: one full matrix shared by "
       "all classes (not with em_annealing)",
       nullptr,
       [](section_settings &s, const char *x) {
         opt(s).covariance = is(x, "scalar")   ? covariance_kind::scalar
                             : is(x, "full")   ? covariance_kind::full
                             : is(x, "tied")   ? covariance_kind::tied
                                               : covariance_kind::diagonal;
       },
       "Unsupported em type: ", "Defaulting to Diagonal EM"},
              {"covariance", 0, FIT_RUN, "full", nullptr, "covariance per class: one variance, one per feature, or a full matrix; tied: one full matrix shared by all classes (not with --annealing)"}),  // no line break: one line
      flagged({"algorithm", v::keyword, {"em", "em_annealing", "em_mixture_of_t"}, "em", "options.method", EVERY_RUN,
       "plain EM, or annealing EM (one class at a high temperature, split as it cools); em_mixture_of_t is refused",
       nullptr,
       [](section_settings &s, const char *x) {
         opt(s).method = is(x, "em_annealing")      ? algorithm::annealing
                         : is(x, "em_mixture_of_t") ? algorithm::mixture_of_t
                                                    : algorithm::em;
       },
       "Unsupported algorithm: ", "Defaulting to EM"},
              {"annealing", 0, FITS, nullptr, "em_annealing", "annealing EM: one class at a high temperature, split as it cools"}),
      flagged({"schedule_scalar", v::real, {}, "0.9", "options.schedule_scalar", EVERY_RUN,
       "annealing: temperature factor per stage, between 0 and 1", nullptr,
       [](section_settings &s, const char *x) { opt(s).schedule_scalar = real(x); }},
              {"schedule", 0, FITS, nullptr, nullptr, nullptr, 0.0, 1.0}),
      flagged({"init_temp", v::real, {}, "10.0", "options.init_temp", EVERY_RUN, "annealing: starting temperature", nullptr,
       [](section_settings &s, const char *x) { opt(s).init_temp = real(x); }},
              {"init-temp", 0, FITS, nullptr, nullptr, nullptr, 0.0, NO_LIMIT}),
      {"t", v::real, {}, "1.0", "nothing", EVERY_RUN, "accepted and ignored", nullptr,
       [](section_settings &, const char *) {}},
      flagged({"random_seed", v::integer, {}, "42", "options.random_seed", EVERY_RUN,
       "seed of the random initializations (s and -s, 0 and 1 agree)", nullptr,
       [](section_settings &s, const char *x) { opt(s).random_seed = integer(x); }},
              {"seed", 0, FITS, nullptr, nullptr, nullptr, INT32_MIN, INT32_MAX}),
  };
}

std::vector<setting> start_and_output_rows() {
  using v = value_kind;
  return {
      flagged({"init_method", v::keyword,
       {"church_means", "random_means", "random_point", "random_range", "random_sample", "file", "model"},
       "church_means", "options.init", EVERY_RUN,
       "initial means: centroid then farthest points, a random partition, random points, random points of the "
       "bounding box, averages of random samples, read from means_file, or the whole model of init_model (a warm "
       "start at full precision)",
       nullptr,
       [](section_settings &s, const char *x) {
         using i = initialization;
         opt(s).init = is(x, "random_means")    ? i::random_means
                       : is(x, "random_point")  ? i::random_point
                       : is(x, "random_range")  ? i::random_range
                       : is(x, "random_sample") ? i::random_sample
                       : is(x, "file")          ? i::means_file
                       : is(x, "model")         ? i::saved_model
                                                : i::church_means;
       },
       "Unsupported mean init method: ", "\nDefaulting to Church Means"},
              {"init", 0, FITS, nullptr, nullptr, "the start of the means alone: centroid then farthest points, a random partition, random points, random points of the bounding box, averages of --samples random points, the means of --means (file), a saved model (model, with --init-model)"}),
      flagged({"means_file", v::file_name, {}, "none", "options.start (a means_file_start)", EVERY_RUN,
       "file of num_clusters rows of cols numbers, for init_method file", nullptr,
       [](section_settings &s, const char *x) { opt(s).start = means_file_start{x}; }},
              {"means", 0, FIT_RUN, nullptr, nullptr, "file of the starting means (--init file): one row of numbers per class"}),
      flagged({"num_samples", v::integer, {}, "0", "options.samples", EVERY_RUN,
       "points averaged per mean by random_sample (at least 1)", nullptr,
       [](section_settings &s, const char *x) { opt(s).samples = integer(x); }},
              {"samples", 0, FITS, nullptr, nullptr, "points averaged per mean by --init random_sample", 1, INT_MAX}),
      flagged({"init_params", v::keyword, {"init_method", "kmeans", "k-means++", "random_responsibilities", "random_from_data"},
       "init_method", "options.init (in place of init_method)", FITS,
       "a start of the whole model, in place of init_method: the classes of k-means (k-means++ centres, then up to "
       "kmeans_iterations Lloyd iterations), of the k-means++ centres, or of random responsibilities, each followed "
       "by an M-step; or distinct random rows as means; init_method leaves the start to init_method",
       nullptr, [](section_settings &s, const char *x) { s.init_params = x; }},
              {"init", 0, FITS, "kmeans", nullptr, "or of the whole model: k-means (k-means++ centres, then Lloyd iterations), the k-means++ centres alone, random responsibilities, or distinct random rows as means"}),
      flagged({"kmeans_iterations", v::integer, {}, "300", "options.kmeans_iterations", FITS,
       "init_params kmeans: Lloyd iterations at most (they stop earlier when no row changes class)", nullptr,
       [](section_settings &s, const char *x) { opt(s).kmeans_iterations = integer(x); }, nullptr, nullptr,
       "a whole number of 0 or more (the default is 300)", 0, INT_MAX},
              {"kmeans-iter", 0, FITS, nullptr, nullptr, "--init kmeans: Lloyd iterations at most (they stop earlier when no row changes class)", 0, INT_MAX}),
      flagged({"kmeans_tol", v::real, {}, "0", "options.kmeans_tol", FITS,
       "init_params kmeans: Lloyd iterations also stop once the centres' summed squared move is at most this "
       "times the mean variance of the features; 0 stops only when no row changes class",
       nullptr, [](section_settings &s, const char *x) { opt(s).kmeans_tol = real(x); }, nullptr, nullptr,
       "a number of 0 or more, such as 1e-4", 0.0, NO_LIMIT},
              {"kmeans-tol", 0, FITS, "1e-4"}),
      {"output_model", v::boolean, {}, "0", "output_model (program)", EVERY_RUN,
       "also write the .means, .variances, .weights and .probs files", nullptr,
       [](section_settings &s, const char *x) { s.file.output_model = boolean(x); }},
      {"output_stepsize", v::integer, {}, "0", "options.snapshot_every", EVERY_RUN,
       "write snapshots NNNNN.means, .variances, .labels every so many EM steps; 0 never", nullptr,
       [](section_settings &s, const char *x) { opt(s).snapshot_every = integer(x) > 0 ? integer(x) : 0; }},
      {"output_internal", v::boolean, {}, "0", "output_internal (program)", EVERY_RUN,
       "also write the data as the algorithm sees them (.internal)", nullptr,
       [](section_settings &s, const char *x) { s.file.output_internal = boolean(x); }},
      {"fast", v::real, {}, "off", "nothing", EVERY_RUN, "accepted and ignored", nullptr,
       [](section_settings &, const char *) {}},
      {"output_summary", v::boolean, {}, "0", "output_summary (program)", EVERY_RUN,
       "also write .summary.json: the log-likelihood, BIC, AIC, ICL, steps and every restart", nullptr,
       [](section_settings &s, const char *x) { s.file.output_summary = boolean(x); }},
  };
}

std::vector<setting> model_rows() {
  using v = value_kind;
  return {
      {"model_file", v::file_name, {}, "none", "model_file (program)", FITS,
       "also write the whole fitted model there as JSON", nullptr,
       [](section_settings &s, const char *x) { s.file.model_file = x; }},
      {"predict_with", v::file_name, {}, "none", "predict_with (program)", PREDICT_RUN,
       "fit nothing: label the rows with this saved model (rows and cols suffice)", nullptr,
       [](section_settings &s, const char *x) { s.file.predict_with = x; }},
      flagged({"num_restarts", v::integer, {}, "1", "options.restarts", FITS,
       "random initializations only: fits from so many seeds derived from random_seed, the highest "
       "log-likelihood kept",
       nullptr, [](section_settings &s, const char *x) { opt(s).restarts = integer(x); }, nullptr, nullptr,
       "a whole number from 1 to 100000", 1, 100000},
              {"n-init", 0, FITS, "3", nullptr, "fits from so many seeds derived from --seed, the highest log-likelihood kept (1 for a start that draws nothing)"}),
      flagged({"init_model", v::file_name, {}, "none", "init_model (program; read into options.start)", FIT_RUN,
       "the saved model init_method model starts from", nullptr,
       [](section_settings &s, const char *x) { s.file.init_model = x; }},
              {"init-model", 0, FIT_RUN, nullptr, nullptr, "start from this saved model (its classes, kind and metric unless given)"}),
      flagged({"select_classes", v::text, {}, "none", "selection (program)", SELECT_RUN,
       "fit every class count from A to B (num_clusters not needed), write .selection.tsv and keep the best",
       "A:B", [](section_settings &s, const char *x) { s.select_classes = x; }},
              {"classes", 'k', SELECT_RUN, "1:9", nullptr, "the class counts to choose among"}),
      flagged({"select_em_types", v::text, {}, "em_type", "selection.kinds (program)", SELECT_RUN,
       "the kinds to select among, such as scalar,diagonal,tied,full", "kind,kind,...",
       [](section_settings &s, const char *x) { s.select_em_types = x; }},
              {"covariance", 0, SELECT_RUN, "scalar,diagonal,tied,full", nullptr, "the kinds to choose among"}),
      flagged({"select_criterion", v::keyword, {"bic", "aic", "icl"}, "bic", "selection.by (program)", SELECT_RUN,
       "what the selection minimises", nullptr,
       [](section_settings &s, const char *x) { s.select_criterion = x; }},
              {"criterion", 0, SELECT_RUN}),
      flagged({"convergence_threshold", v::real, {}, "1e-6", "options.convergence_threshold", FITS,
       "EM stops when the weight changes of its last four steps sum below this", nullptr,
       [](section_settings &s, const char *x) { opt(s).convergence_threshold = real(x); }, nullptr, nullptr,
       "a number of 0 or more (the default is 1e-6)", 0.0, NO_LIMIT},
              {"convergence-threshold", 0, FITS, nullptr, nullptr, "--stop-rule weights: EM stops when the weight changes of its last four steps sum below this"}),
      flagged({"reg_covar", v::real, {}, "0", "options.reg_covar", FITS,
       "added to every variance (covariance diagonal) after each update; 1e-6 keeps singular covariances "
       "invertible",
       nullptr, [](section_settings &s, const char *x) { opt(s).reg_covar = real(x); }, nullptr, nullptr,
       "a number of 0 or more, such as 1e-6", 0.0, NO_LIMIT},
              {"reg-covar", 0, FITS, "1e-6"}),
      flagged({"variance_floor", v::real, {}, "0.001", "options.variance_floor", FITS,
       "every variance (covariance diagonal) is held at or above this after each update, before reg_covar is "
       "added; 0 turns the floor off (for data in small units)",
       nullptr, [](section_settings &s, const char *x) { opt(s).variance_floor = real(x); }, nullptr, nullptr,
       "a number of 0 or more (the default is 0.001; 0 turns the floor off)", 0.0, NO_LIMIT},
              {"variance-floor", 0, FITS, "0", nullptr, "every variance is held at or above this after each update, before --reg-covar is added; 0 turns the floor off"}),
      flagged({"stop_rule", v::keyword, {"weights", "loglik"}, "weights", "options.stop", FITS,
       "what ends EM before max_em_iterations: the weight changes (convergence_threshold), or the mean "
       "log-likelihood per row changing by less than tol between two steps",
       nullptr,
       [](section_settings &s, const char *x) { opt(s).stop = is(x, "loglik") ? stop_rule::loglik : stop_rule::weights; },
       nullptr, nullptr, "weights or loglik"},
              {"stop-rule", 0, FITS, "loglik", nullptr, "what ends EM before its budget: the mean log-likelihood per row changing by less than --tol between two steps, or the weight changes (--convergence-threshold)"}),
      flagged({"tol", v::real, {}, "1e-3", "options.tol", FITS,
       "stop_rule loglik: EM stops when the mean log-likelihood per row changes by less than this", nullptr,
       [](section_settings &s, const char *x) { opt(s).tol = real(x); }, nullptr, nullptr,
       "a number of 0 or more (the default is 1e-3)", 0.0, NO_LIMIT},
              {"tol", 0, FITS, nullptr, nullptr, "EM stops when the mean log-likelihood per row changes by less than this (--stop-rule loglik)"}),
  };
}

// The settings of the command line alone: how the data are read and where the results go.
std::vector<setting> command_rows() {
  using v = value_kind;
  return {
      flagged({nullptr, v::integer, {}, "0", "options.threads", 0,
               "at most this many threads; 0: every core (or MOGEM_THREADS); the results are the same for any count",
               nullptr, [](section_settings &s, const char *x) { opt(s).threads = integer(x); }},
              {"threads", 0, COMMANDS, nullptr, nullptr, nullptr, 0, INT_MAX}),
      flagged({nullptr, v::keyword, {",", ";", "tab", "space"}, "detected", "command.delimiter", 0,
               "the field separator of a text file (detected among , tab ; and space when not given)", nullptr,
               [](section_settings &s, const char *x) {
                 s.command.delimiter = is(x, "tab") ? '\t' : is(x, "space") ? ' ' : x[0];
               }},
              {"delimiter", 0, COMMANDS}),
      flagged({nullptr, v::keyword, {"detected", "yes", "no"}, "detected", "command.header", 0,
               "whether the first line of a text file names the columns", nullptr,
               [](section_settings &s, const char *x) { s.command.header = is(x, "yes") ? 1 : is(x, "no") ? 0 : -1; }},
              {"header", 0, COMMANDS}),
      flagged({nullptr, v::text, {}, "every numeric column", "command.columns", 0,
               "the columns to use, in this order: header names, numbers from 1 or ranges such as 2-4", "NAME,NAME,...",
               [](section_settings &s, const char *x) {
                 s.command.columns.clear();
                 for (const char *at = x;; at++) {
                   const char *end = std::strchr(at, ',');
                   s.command.columns.emplace_back(at, end ? end - at : std::strlen(at));
                   if (!end) break;
                   at = end;
                 }
               }},
              {"columns", 0, COMMANDS}),
      flagged({nullptr, v::boolean, {}, "0", "command.drop_incomplete", 0,
               "drop rows with an empty or NA field (they are counted in the summary) instead of refusing them",
               nullptr, [](section_settings &s, const char *x) { s.command.drop_incomplete = boolean(x); }},
              {"drop-incomplete", 0, COMMANDS, nullptr, "1"}),
      flagged({nullptr, v::keyword, {"labels", "csv"}, "labels", "command.csv_format", 0,
               "standard output: one class number (1..K) per row, or CSV lines of the row number, its class and "
               "each class's probability under a header line",
               nullptr, [](section_settings &s, const char *x) { s.command.csv_format = is(x, "csv"); }},
              {"format", 0, COMMANDS}),
      flagged({nullptr, v::text, {}, "none", "command.output_prefix", 0,
               "write the result files PREFIX.labels, .probs, .model.json, .summary.json (and .selection.tsv, "
               ".imputed) instead of the labels on standard output, all or nothing",
               "PREFIX", [](section_settings &s, const char *x) { s.command.output_prefix = x; }},
              {"output", 'o', COMMANDS}),
      flagged({nullptr, v::file_name, {}, "none", "command.plot", 0,
               "draw the fit (tools/mogem-plot, which needs Python 3 with matplotlib) to this PNG file", nullptr,
               [](section_settings &s, const char *x) { s.command.plot = x; }},
              {"plot", 0, FIT_RUN}),
      flagged({nullptr, v::boolean, {}, "0", "command.quiet", 0, "no summary on standard error", nullptr,
               [](section_settings &s, const char *x) { s.command.quiet = boolean(x); }},
              {"quiet", 'q', COMMANDS, nullptr, "1"}),
  };
}

// The rows with a key, in the order of the help text.
std::vector<setting> make_table() {
  std::vector<setting> table = sizes_and_algorithm_rows();
  for (auto part : {start_and_output_rows, model_rows}) {
    std::vector<setting> rows = part();
    table.insert(table.end(), rows.begin(), rows.end());
  }
  return table;
}

}  // namespace

const std::vector<setting> &settings_table() {
  static const std::vector<setting> table = make_table();
  return table;
}

const std::vector<setting> &all_settings() {
  static const std::vector<setting> table = [] {
    std::vector<setting> rows = settings_table(), own = command_rows();
    rows.insert(rows.end(), own.begin(), own.end());
    return rows;
  }();
  return table;
}

const setting *find_setting(const char *key) {
  for (const setting &row : settings_table())
    if (std::strcmp(row.key, key) == 0) return &row;
  return nullptr;
}

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

bool value_fits(const setting &row, const char *value) {
  // The reader takes whitespace-separated tokens of at most 511 characters.
  if (std::strpbrk(value, " \t\n\r\v\f") || std::strlen(value) > 511) return false;
  switch (row.kind) {
    case value_kind::integer:
      return whole_integer(value);
    case value_kind::real:
      return whole_real(value);
    case value_kind::keyword:
      for (const char *word : row.words)
        if (std::strcmp(word, value) == 0) return true;
      return false;
    case value_kind::boolean:
    case value_kind::file_name:
    case value_kind::text:
      break;
  }
  return *value != '\0';
}

std::string value_text(const setting &row) {
  switch (row.kind) {
    case value_kind::integer:
      return "integer";
    case value_kind::real:
      return "real";
    case value_kind::boolean:
      return "1, yes, true or y; anything else is 0";
    case value_kind::file_name:
      return "file name";
    case value_kind::text:
      return row.value_form;
    case value_kind::keyword:
      break;
  }
  std::string text;
  for (const char *word : row.words) text += (text.empty() ? "" : " | ") + std::string(word);
  return text;
}

}  // namespace mogem::detail
