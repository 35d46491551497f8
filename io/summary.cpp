#include "io/summary.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "engine/names.h"
#include "io/result_files.h"

namespace mogem {

namespace detail {

namespace {

constexpr const char *SUMMARY_FORMAT = "mogem summary";
constexpr int SUMMARY_VERSION = 1;

// JSON has no NaN or infinity: such a value (the log-likelihood of a point no class reaches)
// is written as null.
nlohmann::ordered_json number(double value) { return std::isfinite(value) ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr); }

const char *stop_name(bool converged) { return converged ? "converged" : "budget"; }

nlohmann::ordered_json header(const char *run) {
  nlohmann::ordered_json doc;
  doc["format"] = SUMMARY_FORMAT;
  doc["version"] = SUMMARY_VERSION;
  doc["run"] = run;
  return doc;
}

void put_json(output_file &out, const nlohmann::ordered_json &doc) {
  const std::string text = doc.dump(2) + "\n";
  out.put(text.data(), text.size());
}

// %.17g: every double read back as itself.
void put_number(output_file &out, double value) {
  if (std::isnan(value)) out.put("NaN", 3);
  else out.put_format("%.17g", value);
}

}  // namespace

nlohmann::ordered_json statistics_json(const model &fitted) {
  const fit_statistics &s = fitted.statistics;
  nlohmann::ordered_json out;
  out["data_points"] = s.data_points;
  out["em_steps"] = fitted.steps;
  out["stop"] = stop_name(fitted.converged);
  out["stopped_by"] = fitted.stopped_by;
  out["log_likelihood"] = number(s.log_likelihood);
  out["log_likelihood_per_point"] = number(s.log_likelihood_per_point);
  out["parameters"] = s.parameters;
  out["bic"] = number(s.bic);
  out["aic"] = number(s.aic);
  out["icl"] = number(s.icl);
  out["entropy"] = number(s.entropy);
  out["variances_at_floor"] = s.variances_at_floor;
  out["variances_total"] = s.variances_total;
  out["classes_without_weight"] = s.classes_without_weight;
  return out;
}

nlohmann::ordered_json fit_summary(const fit_result &result) {
  const model &fitted = result.model;
  nlohmann::ordered_json doc = header("fit");
  doc["algorithm"] = algorithm_name(fitted.method);
  doc["covariance"] = kind_name(fitted.kind);
  doc["metric"] = metric_name(fitted.distance);
  doc["classes"] = fitted.classes;
  doc["features"] = fitted.features;
  doc.update(statistics_json(fitted));
  nlohmann::ordered_json restarts = nlohmann::ordered_json::array();
  for (const restart_record &r : result.restarts) {
    nlohmann::ordered_json one;
    one["restart"] = r.restart;
    one["seed"] = r.seed;
    one["status"] = r.failed ? "failed" : "ok";
    if (r.failed) {
      one["error"] = (r.failure_has_own_heading ? "" : "Error: ") + r.failure_in_file_terms;  // as the program prints it
    } else {
      one["log_likelihood"] = number(r.log_likelihood);
      one["em_steps"] = r.steps;
      one["stop"] = stop_name(r.converged);
    }
    restarts.push_back(one);
  }
  doc["restarts"] = restarts;
  doc["chosen_restart"] = result.chosen_restart;
  return doc;
}

void put_fit_summary(output_file &out, const fit_result &fitted) { put_json(out, fit_summary(fitted)); }

void put_prediction_summary(output_file &out, const model &used, const std::string &model_name, std::size_t rows,
                            double log_likelihood) {
  nlohmann::ordered_json doc = header("prediction");
  doc["model_file"] = model_name;
  doc["covariance"] = kind_name(used.kind);
  doc["metric"] = metric_name(used.distance);
  doc["classes"] = used.classes;
  doc["features"] = used.features;
  doc["data_points"] = rows;
  doc["log_likelihood"] = number(log_likelihood);
  doc["log_likelihood_per_point"] = number(log_likelihood / static_cast<double>(rows));
  put_json(out, doc);
}

void put_selection_summary(output_file &out, const selection &chosen, criterion by, const std::string &table_name) {
  nlohmann::ordered_json doc = fit_summary(chosen.best);
  doc["run"] = "selection";
  const candidate &best = chosen.candidates[chosen.chosen];
  doc["selection"] = {{"criterion", criterion_name(by)},
                      {"table", table_name},
                      {"candidates", chosen.candidates.size()},
                      {"chosen", {{"classes", best.classes}, {"covariance", kind_name(best.covariance)}}}};
  put_json(out, doc);
}

void put_selection_table(output_file &out, const selection &chosen) {
    static const char header_line[] =
        "classes\tcovariance\tparameters\tlog_likelihood\tbic\taic\ticl\tem_steps\tconverged\tstatus\n";
    out.put(header_line, sizeof header_line - 1);
    for (const candidate &c : chosen.candidates) {
      out.put_format("%d\t%s\t%ld\t", c.classes, kind_name(c.covariance), c.statistics.parameters);
      if (c.failed) {
        out.put_format("NA\tNA\tNA\tNA\tNA\tNA\t");
      } else {
        for (double v : {c.statistics.log_likelihood, c.statistics.bic, c.statistics.aic, c.statistics.icl}) {
          put_number(out, v);
          out.put('\t');
        }
        out.put_format("%d\t%d\t", c.steps, c.converged ? 1 : 0);
      }
      // The message on one line.
      std::string status = c.failed ? "failed: " + c.failure_in_file_terms : "ok";
      for (char &ch : status)
        if (ch == '\n' || ch == '\t') ch = ' ';
      out.put(status.data(), status.size());
      out.put('\n');
    }
}

std::string budget_warning(const model &fitted, int budget, const setting_names &names) {
  if (fitted.converged) return "";
  char text[400];
  std::snprintf(text, sizeof text,
                "EM stopped at its budget of %d steps before the stop rule was met (last change %.3g); raise %s or %s",
                budget, fitted.last_change, names.max_iter.c_str(), names.tol.c_str());
  return text;
}

std::string floor_warning(const model &fitted, const setting_names &names) {
  const fit_statistics &s = fitted.statistics;
  if (s.variances_at_floor == 0) return "";
  char text[400];
  std::snprintf(text, sizeof text,
                "%ld of %ld variances were held at the variance floor in the last EM step (a constant feature, a "
                "class on a single point, or data in small units); rescale the data or raise %s",
                s.variances_at_floor, s.variances_total, names.reg_covar.c_str());
  return text;
}

std::string fit_report(const fit_result &fitted, int budget, const setting_names &names) {
  const model &m = fitted.model;
  const fit_statistics &s = m.statistics;
  std::string text;
  char line[300];
  std::snprintf(line, sizeof line, "%d classes, %s covariance, %zu rows: log-likelihood %.6g (%.6g per row), BIC %.6g\n",
                m.classes, kind_name(m.kind), s.data_points, s.log_likelihood, s.log_likelihood_per_point, s.bic);
  text += line;
  const std::string ended = !m.converged                ? "the step budget"
                            : m.stopped_by == "loglik" ? "the stop rule (log-likelihood change below " + names.tol + ")"
                                                       : "the stop rule (weight changes below the threshold)";
  std::snprintf(line, sizeof line, "%d EM steps, ended by %s\n", m.steps, ended.c_str());
  text += line;
  if (fitted.restarts.size() > 1) {
    std::size_t failed = 0;
    for (const restart_record &r : fitted.restarts) failed += r.failed ? 1 : 0;
    std::snprintf(line, sizeof line, "start %d of %zu kept (the highest log-likelihood)%s\n", fitted.chosen_restart,
                  fitted.restarts.size(), failed ? (", " + std::to_string(failed) + " failed").c_str() : "");
    text += line;
  }
  std::vector<std::size_t> rows(static_cast<std::size_t>(m.classes), 0);
  for (int label : fitted.labels) rows[static_cast<std::size_t>(label)]++;
  text += "class  weight      rows\n";
  for (int k = 0; k < m.classes; k++) {
    std::snprintf(line, sizeof line, "%5d  %.4f  %8zu\n", k + 1, m.weights[static_cast<std::size_t>(k)],
                  rows[static_cast<std::size_t>(k)]);
    text += line;
  }
  for (const std::string &warning : {budget_warning(m, budget, names), floor_warning(m, names)})
    if (!warning.empty()) text += "warning: " + warning + "\n";
  return text;
}

std::string selection_report(const selection &chosen, criterion by) {
  std::string text;
  char line[400];
  std::snprintf(line, sizeof line, "  classes  covariance  %14s  %14s  steps  stop\n", "log-likelihood",
                by == criterion::bic ? "BIC" : by == criterion::aic ? "AIC" : "ICL");
  text += line;
  for (std::size_t c = 0; c < chosen.candidates.size(); c++) {
    const candidate &one = chosen.candidates[c];
    const char *mark = c == chosen.chosen ? "*" : " ";
    if (one.failed) {
      std::string reason = one.failure;
      for (char &ch : reason)
        if (ch == '\n') ch = ' ';
      std::snprintf(line, sizeof line, "%s %7d  %-10s  failed: %s\n", mark, one.classes, kind_name(one.covariance),
                    reason.c_str());
    } else {
      const double value = by == criterion::bic ? one.statistics.bic
                           : by == criterion::aic ? one.statistics.aic
                                                  : one.statistics.icl;
      std::snprintf(line, sizeof line, "%s %7d  %-10s  %14.6g  %14.6g  %5d  %s%s\n", mark, one.classes,
                    kind_name(one.covariance), one.statistics.log_likelihood, value, one.steps,
                    one.converged ? "rule" : "budget", c == chosen.chosen ? "  <- chosen" : "");
    }
    text += line;
  }
  return text;
}

}  // namespace detail

using namespace detail;

void write_fit_summary(const std::string &path, const fit_result &fitted) {
  write_whole(path, [&](output_file &out) { put_fit_summary(out, fitted); });
}

void write_prediction_summary(const std::string &path, const model &used, const std::string &model_name,
                              std::size_t rows, double log_likelihood) {
  write_whole(path, [&](output_file &out) { put_prediction_summary(out, used, model_name, rows, log_likelihood); });
}

void write_selection_summary(const std::string &path, const selection &chosen, criterion by,
                             const std::string &table_name) {
  write_whole(path, [&](output_file &out) { put_selection_summary(out, chosen, by, table_name); });
}

void write_selection_table(const std::string &path, const selection &chosen) {
  write_whole(path, [&](output_file &out) { put_selection_table(out, chosen); });
}

}  // namespace mogem
