#include "cli/command_run.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/checks.h"
#include "cli/help.h"
#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/processes.h"
#include "cli/program.h"
#include "cli/progress.h"
#include "cli/result_plan.h"
#include "cli/staged_results.h"
#include "engine/names.h"
#include "io/model_file.h"
#include "io/result_files.h"
#include "io/summary.h"
#include "io/table_file.h"

namespace mogem::detail {

namespace {

void say(const command_request &r, const std::string &text) {
  if (!r.settings.command.quiet) std::fputs(text.c_str(), stderr);
}

void warn(const std::string &text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); }

bool imputing(const command_request &r) { return r.settings.file.settings.missing == missing_values::em; }

// The result files of -o PREFIX: PREFIX.labels last, as in every run.
result_plan plan_of(const command_request &r) {
  const std::string &prefix = r.settings.command.output_prefix;
  result_plan plan{r.data_path, prefix + ".labels", {}, false};
  if (prefix.empty()) return plan;
  plan.files.push_back({result::posteriors, prefix + ".probs"});
  if (r.which != command::predict) plan.files.push_back({result::saved_model, prefix + ".model.json"});
  if (r.which == command::select) plan.files.push_back({result::selection_table, prefix + ".selection.tsv"});
  plan.files.push_back({result::summary, prefix + ".summary.json"});
  if (imputing(r)) plan.files.push_back({result::imputed, prefix + ".imputed"});
  plan.files.push_back({result::labels, prefix + ".labels"});
  return plan;
}

// names: the columns wanted when --columns is not given (a saved model's feature names), taken
// only when the data have them all.
table read_data(const command_request &r, int threads, const std::vector<std::string> &names = {}) {
  const command_settings &c = r.settings.command;
  table_request request;
  request.path = r.data_path;
  request.delimiter = c.delimiter;
  request.header = c.header;
  request.columns = c.columns;
  request.drop_incomplete = c.drop_incomplete;
  request.keep_missing = imputing(r);  // NaN, for the fit on the observed values
  request.threads = threads;
  table data = read_table(request);
  if (c.columns.empty() && !names.empty() && data.names != names &&
      std::all_of(names.begin(), names.end(), [&](const std::string &name) {
        return std::find(data.names.begin(), data.names.end(), name) != data.names.end();
      })) {
    request.columns = names;  // the model's columns, in its order
    data = read_table(request);
  }
  if (data.dropped > 0)
    warn(std::to_string(data.dropped) + " rows with an empty or NA field were dropped (--drop-incomplete)");
  return data;
}

// Labels 1..K one a line, or with --format csv the row number, label and each class's
// probability (posteriors class first) under a header line.
void print_labels(const command_request &r, const std::vector<int> &labels, const std::vector<double> &posteriors,
                  int classes) {
  output_file out(STDOUT_FILENO, "standard output");
  const std::size_t rows = labels.size();
  if (r.settings.command.csv_format) {
    out.put_format("row,label");
    for (int k = 1; k <= classes; k++) out.put_format(",p%d", k);
    out.put('\n');
  }
  for (std::size_t i = 0; i < rows; i++) {
    if (!r.settings.command.csv_format) {
      out.put_format("%d\n", labels[i] + 1);
      continue;
    }
    out.put_format("%zu,%d", i + 1, labels[i] + 1);
    for (int k = 0; k < classes; k++) out.put_format(",%.6f", posteriors[static_cast<std::size_t>(k) * rows + i]);
    out.put('\n');
  }
  out.finish();
}

// Before any work: the picture's folder takes a new file.
void refuse_unwritable_picture(const std::string &png) {
  if (png.empty()) return;
  const std::size_t slash = png.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : png.substr(0, slash);
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    throw error(error::kind::write_failure, "could not write the file " + png + ": " + std::strerror(errno));
}

// Whether the names are the column numbers 1..F a table without a header gives: no names.
bool numbered(const std::vector<std::string> &names) {
  for (std::size_t c = 0; c < names.size(); c++)
    if (names[c] != std::to_string(c + 1)) return false;
  return true;
}

// The progress line of a fit (a terminal only) and the time the fit took.
struct watched_fit {
  em_progress *line = nullptr;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  ~watched_fit() { progress_finish(line); }
};

callbacks hooks_of(watched_fit &watch, const options &o) {
  callbacks hooks;
  hooks.warning = warn;
  watch.line = progress_start_if_terminal();
  if (watch.line) progress_set_budget(watch.line, o.max_iterations, o.restarts);
  em_progress *line = watch.line;
  hooks.on_progress = [line](const progress &at) {
    if (line) progress_em_step(line, at);
    stop_if_interrupted();
  };
  return hooks;
}

// Where the picture tool is: beside the program (installed), or in the source tree's tools/
// beside the build directory.
std::string plot_tool() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "mogem-plot";
  self[n] = '\0';
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  for (const std::string &candidate : {dir + "/mogem-plot", dir + "/../tools/mogem-plot"})
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  return "mogem-plot";
}

std::string columns_text(const std::vector<std::string> &columns) {
  std::string text;
  for (const std::string &c : columns) text += (text.empty() ? "" : ",") + c;
  return text;
}

// Runs mogem-plot on the saved model, the data and the labels; true when it drew the picture.
bool draw(const command_request &r, const std::string &model_path, const std::string &labels_path) {
  const std::string tool = plot_tool();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<std::string> args{tool, "--model", model_path, "-o", r.settings.command.plot};
    if (r.given.count("columns")) args.insert(args.end(), {"--columns", columns_text(r.settings.command.columns)});
    args.insert(args.end(), {r.data_path, labels_path});
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execvp(tool.c_str(), argv.data());
    std::fprintf(stderr, "mogem: cannot run %s: %s\n", tool.c_str(), std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  const bool not_run = pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 127;
  std::fprintf(stderr, "mogem: the picture %s was not drawn: %s; the other results stand\n",
               r.settings.command.plot.c_str(),
               not_run ? "tools/mogem-plot needs Python 3 (/usr/bin/python3) with matplotlib and numpy "
                         "(scripts/install-deps.sh test installs them)"
                       : "mogem-plot said why above");
  return false;
}

// With --missing em, how many values were missing and in how many rows, for the summary; ""
// when none was.
std::string missing_note(const table &data, const char *done) {
  std::size_t values = 0, rows = 0;
  for (std::size_t i = 0; i < data.rows; i++) {
    const double *row = data.values.data() + i * data.cols;
    const auto holes =
        static_cast<std::size_t>(std::count_if(row, row + data.cols, [](double v) { return std::isnan(v); }));
    values += holes;
    rows += holes > 0;
  }
  if (values == 0) return "";
  return std::to_string(values) + (values == 1 ? " value" : " values") + " missing in " + std::to_string(rows) +
         (rows == 1 ? " row" : " rows") + ", " + done + " on the observed values (--missing em)\n";
}

// With --missing em, PREFIX.imputed: the rows with each missing value filled in under the
// model, as CSV under the columns' names when the data have names.
void stage_imputed(const command_request &r, staged_results &results, const model &used, const table &data,
                   int threads) {
  if (!imputing(r)) return;
  const std::vector<double> filled = impute(used, matrix_view{data.values.data(), data.rows, data.cols}, threads);
  results.file(result::imputed, [&](output_file &out) {
    const std::vector<std::string> header = numbered(data.names) ? std::vector<std::string>{} : data.names;
    put_data_rows(out, filled.data(), data.rows, data.cols, ',', header);
  });
}

// With --plot and no -o, the model and labels go to a temporary folder for the picture tool.
bool plot_fit(const command_request &r, const fit_result &fitted) {
  const std::string &prefix = r.settings.command.output_prefix;
  if (!prefix.empty()) return draw(r, prefix + ".model.json", prefix + ".labels");
  char folder[] = "/tmp/mogem-plot.XXXXXX";
  if (!mkdtemp(folder)) {
    std::fprintf(stderr, "mogem: no temporary folder for the picture: %s\n", std::strerror(errno));
    return false;
  }
  // Named after the picture: the tool's title names the model.
  std::string stem = r.settings.command.plot.substr(r.settings.command.plot.rfind('/') + 1);
  stem = stem.substr(0, stem.rfind('.'));
  const std::string model_path = std::string(folder) + "/" + stem + ".model.json",
                    labels_path = std::string(folder) + "/" + stem + ".labels";
  write_model_file(model_path, fitted.model);
  write_labels(labels_path, fitted);
  const bool drawn = draw(r, model_path, labels_path);
  std::remove(model_path.c_str());
  std::remove(labels_path.c_str());
  rmdir(folder);
  return drawn;
}


int fit_or_select(const command_request &r, const result_plan &plan, staged_results &results, int threads) {
  parameter_file file = r.settings.file;
  options &o = file.settings;
  o.threads = threads;
  o.data_name = r.data_path == "-" ? "standard input" : r.data_path;
  if (!file.init_model.empty()) {
    const auto start = std::make_shared<const model>(read_model_file(file.init_model));
    o.start = start;
    if (!r.given.count("classes")) o.classes = start->classes;
    if (!r.given.count("covariance")) o.covariance = start->kind;
    if (!r.given.count("metric")) o.distance = start->distance;
  }
  table data = read_data(r, threads);
  stop_if_interrupted();
  selection chosen;
  {
    watched_fit watch;
    const callbacks hooks = hooks_of(watch, o);
    if (file.select)
      chosen = select_model(matrix_view{data.values.data(), data.rows, data.cols}, o, file.selection, hooks);
    else if (imputing(r))  // the rows stay in their own units, to be filled in after the fit
      chosen.best = fit(matrix_view{data.values.data(), data.rows, data.cols}, o, hooks);
    else
      chosen.best = fit_in_place(data.values.data(), data.rows, data.cols, o, hooks);
  }
  fit_result &fitted = chosen.best;
  if (!numbered(data.names)) fitted.model.feature_names = data.names;
  const setting_names names{"--max-iter", o.stop == stop_rule::loglik ? "--tol" : "--convergence-threshold",
                            "--reg-covar"};
  if (imputing(r)) say(r, missing_note(data, "fitted"));
  if (file.select) say(r, selection_report(chosen, file.selection.by));
  say(r, fit_report(fitted, o.max_iterations, names));
  if (r.settings.command.quiet) {  // the warnings still reach a quiet run
    for (const std::string &w : {budget_warning(fitted.model, o.max_iterations, names), floor_warning(fitted.model, names)})
      if (!w.empty()) warn(w);
  }
  if (plan.files.empty()) {
    print_labels(r, fitted.labels, fitted.posteriors, fitted.model.classes);
  } else {
    results.file(result::posteriors, [&](output_file &out) { put_posteriors(out, fitted); });
    results.file(result::saved_model, [&](output_file &out) { put_model(out, fitted.model); });
    if (file.select) {
      results.file(result::selection_table, [&](output_file &out) { put_selection_table(out, chosen); });
      results.file(result::summary, [&](output_file &out) {
        put_selection_summary(out, chosen, file.selection.by, plan.path(result::selection_table));
      });
    } else {
      results.file(result::summary, [&](output_file &out) { put_fit_summary(out, fitted); });
    }
    stage_imputed(r, results, fitted.model, data, threads);
    results.labels(fitted);
    stop_if_interrupted();
    results.commit();
  }
  if (!r.settings.command.plot.empty() && !plot_fit(r, fitted)) return 1;
  return 0;
}

int predict_rows(const command_request &r, const result_plan &plan, staged_results &results, int threads) {
  const model used = read_model_file(r.model_path);
  table data = read_data(r, threads, used.feature_names);
  stop_if_interrupted();
  const prediction p = predict_all(used, matrix_view{data.values.data(), data.rows, data.cols}, threads,
                                   r.settings.file.settings.missing);
  double log_likelihood = 0.0;
  for (double density : p.log_densities) log_likelihood += density;
  fit_result labelled;
  labelled.model = used;
  labelled.labels = p.labels;
  labelled.posteriors = p.posteriors;
  char line[300];
  std::snprintf(line, sizeof line, "%zu rows labelled with %s (%d classes, %s covariance): log-likelihood %.6g (%.6g per row)\n",
                data.rows, r.model_path.c_str(), used.classes, kind_name(used.kind), log_likelihood,
                log_likelihood / static_cast<double>(data.rows));
  say(r, line);
  if (imputing(r)) say(r, missing_note(data, "labelled"));
  if (plan.files.empty()) {
    print_labels(r, p.labels, p.posteriors, used.classes);
    return 0;
  }
  results.file(result::posteriors, [&](output_file &out) { put_posteriors(out, labelled); });
  results.file(result::summary, [&](output_file &out) {
    put_prediction_summary(out, used, r.model_path, data.rows, log_likelihood);
  });
  stage_imputed(r, results, used, data, threads);
  results.labels(labelled);
  stop_if_interrupted();
  results.commit();
  return 0;
}

}  // namespace

bool names_a_command(int argc, char **argv) {
  command which;
  struct stat info;
  // A folder called "fit" is no parameter file: the command runs.
  return argc >= 2 && command_named(argv[1], &which) && (stat(argv[1], &info) != 0 || S_ISDIR(info.st_mode));
}

int run_command(int argc, char **argv) {
  command which = command::fit;
  command_named(argv[0], &which);
  command_request r;
  try {
    r = parse_command_line(which, argc, argv);
  } catch (const usage_error &bad) {
    std::fprintf(stderr, "mogem %s: %s\nRun \"mogem %s --help\" for its options.\n", argv[0], bad.message.c_str(),
                 argv[0]);
    return 2;
  }
  if (r.help) {
    print_command_help(stdout, argv[0]);
    return 0;
  }
  try {
    watch_for_interrupts();
    const int threads = r.settings.file.settings.threads > 0 ? r.settings.file.settings.threads
                                                             : threads_from_environment();
    const result_plan plan = plan_of(r);
    if (!plan.files.empty()) {
      refuse_results_over_input(plan);
      refuse_unwritable_results(plan);
    }
    refuse_unwritable_picture(r.settings.command.plot);
    staged_results results(plan);
    return which == command::predict ? predict_rows(r, plan, results, threads)
                                     : fit_or_select(r, plan, results, threads);
  } catch (const error &failure) {
    std::fprintf(stderr, "mogem %s: %s%s\n", argv[0], failure.what(), flag_note(failure).c_str());
    return failure.what_kind() == error::kind::invalid_input && !failure.setting().empty() ? 2 : 1;
  } catch (const interrupted &stop) {
    std::fprintf(stderr, "%s\n", interrupt_message(nullptr, stop.signal_number).c_str());
    return 128 + stop.signal_number;
  }
}

}  // namespace mogem::detail
