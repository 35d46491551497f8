// Saved models as JSON documents (mogem/mogem.h): writing, and reading with every check a
// model must pass before it labels a row.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/names.h"
#include "io/model_file.h"
#include "io/summary.h"
#include "io/result_files.h"
#include "mogem/files.h"

namespace mogem {

namespace {

using json = nlohmann::ordered_json;
using namespace detail;

constexpr const char *MODEL_FORMAT = "mogem model";
constexpr int MODEL_VERSION = 1;

// The covariance values of one class as nested arrays: a number, F numbers, or F rows of F
// (tied: the shared matrix, whatever k).
json class_covariance(const model &fitted, int k) {
  const int F = fitted.features;
  switch (fitted.kind) {
    case covariance_kind::scalar: return fitted.covariances[k];
    case covariance_kind::diagonal:
      return std::vector<double>(fitted.covariances.begin() + static_cast<long>(k) * F,
                                 fitted.covariances.begin() + static_cast<long>(k + 1) * F);
    case covariance_kind::tied: k = 0; break;
    case covariance_kind::full: break;
  }
  json rows = json::array();
  for (int r = 0; r < F; r++) {
    const auto row = fitted.covariances.begin() + (static_cast<long>(k) * F + r) * F;
    rows.push_back(std::vector<double>(row, row + F));
  }
  return rows;
}

bool all_finite(const std::vector<double> &values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

[[noreturn]] void refuse_model(const std::string &name, const std::string &problem) {
  throw error(error::kind::invalid_input, "the model file " + name + " cannot be used: " + problem);
}

// The reading of one document, each problem refused with the field it concerns.
class model_reader {
 public:
  model_reader(const json &document, const std::string &name) : doc_(document), name_(name) {}

  model read() {
    if (!doc_.is_object()) fail("it is not a JSON object");
    if (!doc_.contains("format") || doc_["format"] != MODEL_FORMAT)
      fail(std::string("it is not a saved model (its \"format\" is not \"") + MODEL_FORMAT + "\")");
    const json &version = field("version");
    if (!version.is_number_integer() || version.get<long long>() != MODEL_VERSION)
      fail("it is of version " + version.dump() + "; this program reads version " + std::to_string(MODEL_VERSION));
    model m;
    m.method = algorithm_named(keyword("algorithm"));
    m.kind = kind_named(keyword("covariance"));
    m.distance = metric_named(keyword("metric"));
    m.classes = count("classes");
    m.features = count("features");
    const int K = m.classes, F = m.features;
    if (doc_.contains("feature_names")) m.feature_names = names(doc_["feature_names"], F);
    m.weights = numbers(field("weights"), K, "weights");
    for (double w : m.weights)
      if (w < 0.0) fail("\"weights\" holds the negative weight " + json(w).dump());
    m.means = matrix(field("means"), K, F, "means");
    read_covariances(m);
    const json &centre = field("centre");
    if (!centre.is_null()) m.centre = numbers(centre, F, "centre");
    const json &unit = field("unit_length");
    if (!unit.is_boolean()) fail("\"unit_length\" is not true or false");
    m.unit_length = unit.get<bool>();
    if (m.unit_length != (m.distance == metric::correlation))
      fail("\"unit_length\" must be true exactly when \"metric\" is \"correlation\"");
    m.inverse_temperature = number(field("inverse_temperature"), "inverse_temperature");
    if (m.inverse_temperature < 0.0) fail("\"inverse_temperature\" is negative");
    if (doc_.contains("statistics")) read_statistics(doc_["statistics"], m);
    return m;
  }

 private:
  [[noreturn]] void fail(const std::string &problem) const { refuse_model(name_, problem); }

  const json &field(const char *key) const {
    if (!doc_.contains(key)) fail(std::string("the field \"") + key + "\" is missing");
    return doc_[key];
  }

  std::string keyword(const char *key) const {
    const json &value = field(key);
    if (!value.is_string()) fail(std::string("\"") + key + "\" is not a text");
    return value.get<std::string>();
  }

  int count(const char *key) const {
    const json &value = field(key);
    if (!value.is_number_integer() || value.get<long long>() < 1 || value.get<long long>() > 1000000)
      fail(std::string("\"") + key + "\" is not a whole number from 1 to 1000000");
    return value.get<int>();
  }

  double number(const json &value, const std::string &what) const {
    if (!value.is_number()) fail("\"" + what + "\" holds " + value.dump(-1).substr(0, 40) + ", not a number");
    const double v = value.get<double>();
    if (!std::isfinite(v)) fail("\"" + what + "\" holds a value that is not finite");
    return v;
  }

  std::vector<double> numbers(const json &value, int length, const std::string &what) const {
    if (!value.is_array() || value.size() != static_cast<std::size_t>(length))
      fail("\"" + what + "\" is not a list of " + std::to_string(length) + " numbers");
    std::vector<double> out;
    out.reserve(length);
    for (const json &v : value) out.push_back(number(v, what));
    return out;
  }

  std::vector<std::string> names(const json &value, int length) const {
    if (!value.is_array() || value.size() != static_cast<std::size_t>(length))
      fail("\"feature_names\" is not a list of " + std::to_string(length) + " texts");
    std::vector<std::string> out;
    for (const json &v : value) {
      if (!v.is_string()) fail("\"feature_names\" holds " + v.dump(-1).substr(0, 40) + ", not a text");
      out.push_back(v.get<std::string>());
    }
    return out;
  }

  std::vector<double> matrix(const json &value, int rows, int cols, const std::string &what) const {
    if (!value.is_array() || value.size() != static_cast<std::size_t>(rows))
      fail("\"" + what + "\" is not a list of " + std::to_string(rows) + " rows");
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(rows) * cols);
    for (const json &row : value)
      for (double v : numbers(row, cols, what)) out.push_back(v);
    return out;
  }

  void read_covariances(model &m) const {
    const int K = m.classes, F = m.features;
    const json &value = field("covariances");
    switch (m.kind) {
      case covariance_kind::scalar: m.covariances = numbers(value, K, "covariances"); break;
      case covariance_kind::diagonal: m.covariances = matrix(value, K, F, "covariances"); break;
      case covariance_kind::full:
        if (!value.is_array() || value.size() != static_cast<std::size_t>(K))
          fail("\"covariances\" is not a list of " + std::to_string(K) + " matrices");
        for (const json &one : value)
          for (double v : matrix(one, F, F, "covariances")) m.covariances.push_back(v);
        break;
      case covariance_kind::tied:  // one matrix, shared by every class
        m.covariances = matrix(value, F, F, "covariances");
        if (!positive_definite(m, 0)) fail("the shared (tied) covariance is not symmetric and positive definite");
        return;
    }
    for (int k = 0; k < K; k++)
      if (!positive_definite(m, k))
        fail("the covariance of class " + std::to_string(k + 1) + " is not " +
             (m.kind == covariance_kind::full ? "symmetric and positive definite" : "positive"));
  }

  // A Cholesky factorisation succeeds (full, tied), or every variance is above 0.
  static bool positive_definite(const model &m, int k) {
    const int F = m.features;
    if (m.kind != covariance_kind::full && m.kind != covariance_kind::tied) {
      const int per_class = m.kind == covariance_kind::scalar ? 1 : F;
      for (int e = 0; e < per_class; e++)
        if (!(m.covariances[static_cast<std::size_t>(k) * per_class + e] > 0.0)) return false;
      return true;
    }
    const double *a = m.covariances.data() + static_cast<std::size_t>(k) * F * F;
    std::vector<double> l(static_cast<std::size_t>(F) * F, 0.0);
    for (int r = 0; r < F; r++) {
      for (int c = 0; c < r; c++)
        if (a[r * F + c] != a[c * F + r]) return false;
      for (int c = 0; c <= r; c++) {
        double sum = a[r * F + c];
        for (int t = 0; t < c; t++) sum -= l[r * F + t] * l[c * F + t];
        if (r == c) {
          if (!(sum > 0.0)) return false;
          l[r * F + r] = std::sqrt(sum);
        } else {
          l[r * F + c] = sum / l[c * F + c];
        }
      }
    }
    return true;
  }

  void read_statistics(const json &value, model &m) const {
    if (!value.is_object()) fail("\"statistics\" is not an object");
    fit_statistics &s = m.statistics;
    auto get = [&](const char *key, double &out) {
      if (value.contains(key) && value[key].is_number()) out = value[key].get<double>();
    };
    if (value.contains("data_points") && value["data_points"].is_number_unsigned())
      s.data_points = value["data_points"].get<std::size_t>();
    if (value.contains("parameters") && value["parameters"].is_number_integer())
      s.parameters = value["parameters"].get<long>();
    if (value.contains("em_steps") && value["em_steps"].is_number_integer()) m.steps = value["em_steps"].get<int>();
    if (value.contains("stop") && value["stop"].is_string()) m.converged = value["stop"] == "converged";
    // Saved before the stop rule was recorded: the weight rule was the only one.
    m.stopped_by = m.converged ? "weights" : "budget";
    if (value.contains("stopped_by") && value["stopped_by"].is_string()) {
      const std::string rule = value["stopped_by"].get<std::string>();
      if (rule == "weights" || rule == "loglik" || rule == "budget") m.stopped_by = rule;
    }
    auto whole = [&](const char *key, auto &out) {
      if (value.contains(key) && value[key].is_number_unsigned()) value[key].get_to(out);
    };
    whole("variances_at_floor", s.variances_at_floor);
    whole("variances_total", s.variances_total);
    whole("classes_without_weight", s.classes_without_weight);
    get("log_likelihood", s.log_likelihood);
    get("log_likelihood_per_point", s.log_likelihood_per_point);
    get("bic", s.bic);
    get("aic", s.aic);
    get("icl", s.icl);
    get("entropy", s.entropy);
  }

  algorithm algorithm_named(const std::string &text) const {
    if (text == "em") return algorithm::em;
    if (text == "annealing") return algorithm::annealing;
    fail("\"algorithm\" is \"" + text + "\"; it must be \"em\" or \"annealing\"");
  }

  covariance_kind kind_named(const std::string &text) const {
    if (text == "scalar") return covariance_kind::scalar;
    if (text == "diagonal") return covariance_kind::diagonal;
    if (text == "full") return covariance_kind::full;
    if (text == "tied") return covariance_kind::tied;
    fail("\"covariance\" is \"" + text + "\"; it must be \"scalar\", \"diagonal\", \"full\" or \"tied\"");
  }

  metric metric_named(const std::string &text) const {
    if (text == "euclidean") return metric::euclidean;
    if (text == "correlation") return metric::correlation;
    fail("\"metric\" is \"" + text + "\"; it must be \"euclidean\" or \"correlation\"");
  }

  const json &doc_;
  std::string name_;
};

}  // namespace

std::string model_to_json(const model &fitted) {
  json doc;
  doc["format"] = MODEL_FORMAT;
  doc["version"] = MODEL_VERSION;
  doc["algorithm"] = algorithm_name(fitted.method);
  doc["covariance"] = kind_name(fitted.kind);
  doc["metric"] = metric_name(fitted.distance);
  doc["classes"] = fitted.classes;
  doc["features"] = fitted.features;
  // Only when named: a model without names keeps the bytes it was always saved as.
  if (!fitted.feature_names.empty()) doc["feature_names"] = fitted.feature_names;
  doc["centre"] = fitted.centre.empty() ? json(nullptr) : json(fitted.centre);
  doc["unit_length"] = fitted.unit_length;
  doc["inverse_temperature"] = fitted.inverse_temperature;
  doc["weights"] = fitted.weights;
  json means = json::array(), covariances = json::array();
  for (int k = 0; k < fitted.classes; k++) {
    const auto row = fitted.means.begin() + static_cast<long>(k) * fitted.features;
    means.push_back(std::vector<double>(row, row + fitted.features));
    covariances.push_back(class_covariance(fitted, k));
  }
  doc["means"] = means;
  // tied: the one matrix all classes share, not K copies.
  doc["covariances"] = fitted.kind == covariance_kind::tied ? class_covariance(fitted, 0) : covariances;
  doc["statistics"] = statistics_json(fitted);
  // A feature name that is not UTF-8 (a header in another encoding) is kept with its stray bytes
  // replaced by U+FFFD rather than refused; every other text is ASCII.
  return doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

model model_from_json(const std::string &text, const std::string &name) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception &e) {  // a syntax error, or a number beyond a double's range
    refuse_model(name, std::string("it is not valid JSON (") + e.what() + ")");
  }
  return model_reader(doc, name).read();
}

void detail::put_model(output_file &out, const model &fitted) {
  if (!all_finite(fitted.weights) || !all_finite(fitted.means) || !all_finite(fitted.covariances) ||
      !all_finite(fitted.centre))
    throw error(error::kind::invalid_input, "the model holds a value that is not finite; no model file is written");
  if (!fitted.feature_names.empty() && fitted.feature_names.size() != static_cast<std::size_t>(fitted.features))
    throw error(error::kind::invalid_input, "the model has " + std::to_string(fitted.feature_names.size()) +
                                                " feature names for its " + std::to_string(fitted.features) +
                                                " features; no model file is written");
  const std::string text = model_to_json(fitted);
  out.put(text.data(), text.size());
}

void write_model_file(const std::string &path, const model &fitted) {
  write_whole(path, [&](output_file &out) { put_model(out, fitted); });
}

model read_model_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) refuse_model(path, std::string("it cannot be opened (") + std::strerror(errno) + ")");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) refuse_model(path, "it cannot be read");
  return model_from_json(text.str(), path);
}

}  // namespace mogem
