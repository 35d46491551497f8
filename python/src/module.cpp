// mogem._mogem: the library (mogem/mogem.h, the saved models of mogem/files.h) for Python. Thin
// on purpose: the settings record, the fitted model and the fit result with their arrays as
// NumPy views, and the fit, prediction, selection and saved-model calls. The estimator and its checks of parameters live in the pure-Python layer
// (python/mogem/).
//
// The engine runs without the GIL; between EM steps it takes the GIL back for a moment to
// notice Ctrl-C, which ends the fit with KeyboardInterrupt. The library's errors become
// ValueError (invalid input), mogem.FitError (a ValueError: a numerical failure or a breakdown,
// with `kind`) and OSError (a file that could not be written).
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arrays.h"
#include "io/settings.h"
#include "io/summary.h"
#include "mogem/files.h"

namespace py = pybind11;
using namespace mogem_python;

namespace {

using model_ptr = std::shared_ptr<mogem::model>;
using result_ptr = std::shared_ptr<mogem::fit_result>;

// Thrown out of the engine once Python has a pending exception (Ctrl-C): the engine unwinds,
// and the caller raises that exception once the GIL is back.
struct python_error_pending {};

// Callbacks that gather the fit's warnings and, after every step, let Python handle signals and
// hear of the step: on_step(restart, step, objective) when given (step counted from 1; objective
// as mogem::progress::objective). An exception it raises ends the fit.
struct fit_hooks {
  std::vector<std::string> warnings;
  mogem::callbacks hooks;
  explicit fit_hooks(py::object on_step = py::none()) {
    hooks.warning = [this](const std::string &w) { warnings.push_back(w); };
    hooks.on_progress = [on_step](const mogem::progress &at) {
      py::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() != 0) throw python_error_pending();
      if (on_step.is_none()) return;
      try {
        on_step(at.restart, at.step + 1, at.objective);
      } catch (py::error_already_set &raised) {
        raised.restore();
        throw python_error_pending();
      }
    };
  }
};

// Runs `work` without the GIL; a pending Python exception set during it is raised.
template <typename Work>
auto without_gil(Work work) {
  try {
    py::gil_scoped_release nogil;
    return work();
  } catch (const python_error_pending &) {
    throw py::error_already_set();
  }
}

const char *kind_name(mogem::error::kind k) {
  switch (k) {
    case mogem::error::kind::invalid_input: return "invalid_input";
    case mogem::error::kind::numerical_failure: return "numerical_failure";
    case mogem::error::kind::breakdown: return "breakdown";
    case mogem::error::kind::write_failure: break;
  }
  return "write_failure";
}

py::dict statistics_dict(const mogem::fit_statistics &s) {
  py::dict d;
  d["data_points"] = s.data_points;
  d["log_likelihood"] = s.log_likelihood;
  d["log_likelihood_per_point"] = s.log_likelihood_per_point;
  d["parameters"] = s.parameters;
  d["bic"] = s.bic;
  d["aic"] = s.aic;
  d["entropy"] = s.entropy;
  d["icl"] = s.icl;
  d["variances_at_floor"] = s.variances_at_floor;
  d["variances_total"] = s.variances_total;
  d["classes_without_weight"] = s.classes_without_weight;
  return d;
}

py::dict restart_dict(const mogem::restart_record &r) {
  py::dict d;
  d["restart"] = r.restart;
  d["seed"] = r.seed;
  d["failed"] = r.failed;
  d["failure"] = r.failure;
  d["log_likelihood"] = r.log_likelihood;
  d["steps"] = r.steps;
  d["converged"] = r.converged;
  return d;
}

void bind_enums(py::module_ &m) {
  py::enum_<mogem::covariance_kind>(m, "CovarianceKind")
      .value("scalar", mogem::covariance_kind::scalar)
      .value("diagonal", mogem::covariance_kind::diagonal)
      .value("full", mogem::covariance_kind::full)
      .value("tied", mogem::covariance_kind::tied);
  py::enum_<mogem::metric>(m, "Metric")
      .value("euclidean", mogem::metric::euclidean)
      .value("correlation", mogem::metric::correlation);
  py::enum_<mogem::algorithm>(m, "Algorithm")
      .value("em", mogem::algorithm::em)
      .value("annealing", mogem::algorithm::annealing);
  py::enum_<mogem::initialization>(m, "Initialization")
      .value("church_means", mogem::initialization::church_means)
      .value("random_means", mogem::initialization::random_means)
      .value("random_point", mogem::initialization::random_point)
      .value("random_range", mogem::initialization::random_range)
      .value("random_sample", mogem::initialization::random_sample)
      .value("means_file", mogem::initialization::means_file)
      .value("saved_model", mogem::initialization::saved_model)
      .value("given_means", mogem::initialization::given_means)
      .value("kmeans", mogem::initialization::kmeans)
      .value("kmeans_plus_plus", mogem::initialization::kmeans_plus_plus)
      .value("random_responsibilities", mogem::initialization::random_responsibilities)
      .value("random_from_data", mogem::initialization::random_from_data);
  py::enum_<mogem::stop_rule>(m, "StopRule")
      .value("weights", mogem::stop_rule::weights)
      .value("loglik", mogem::stop_rule::loglik);
  py::enum_<mogem::missing_values>(m, "MissingValues")
      .value("refuse", mogem::missing_values::refuse)
      .value("em", mogem::missing_values::em);
  py::enum_<mogem::criterion>(m, "Criterion")
      .value("bic", mogem::criterion::bic)
      .value("aic", mogem::criterion::aic)
      .value("icl", mogem::criterion::icl);
}

void bind_options(py::module_ &m) {
  py::class_<mogem::options>(m, "Options", "Every setting of a fit, with the library's defaults.")
      .def(py::init<>())
      .def_readwrite("classes", &mogem::options::classes)
      .def_readwrite("covariance", &mogem::options::covariance)
      .def_readwrite("distance", &mogem::options::distance)
      .def_readwrite("center", &mogem::options::center)
      .def_readwrite("method", &mogem::options::method)
      .def_readwrite("max_iterations", &mogem::options::max_iterations)
      .def_readwrite("schedule_scalar", &mogem::options::schedule_scalar)
      .def_readwrite("init_temp", &mogem::options::init_temp)
      .def_readwrite("init", &mogem::options::init)
      .def_readwrite("random_seed", &mogem::options::random_seed)
      .def_readwrite("samples", &mogem::options::samples)
      .def_readwrite("threads", &mogem::options::threads)
      .def_readwrite("data_name", &mogem::options::data_name)
      .def_readwrite("restarts", &mogem::options::restarts)
      .def_readwrite("convergence_threshold", &mogem::options::convergence_threshold)
      .def_readwrite("reg_covar", &mogem::options::reg_covar)
      .def_readwrite("variance_floor", &mogem::options::variance_floor)
      .def_readwrite("kmeans_iterations", &mogem::options::kmeans_iterations)
      .def_readwrite("kmeans_tol", &mogem::options::kmeans_tol)
      .def_readwrite("missing", &mogem::options::missing)
      .def_readwrite("stop", &mogem::options::stop)
      .def_readwrite("tol", &mogem::options::tol)
      .def_readwrite("start_objective", &mogem::options::start_objective)
      .def("__copy__", [](const mogem::options &o) { return mogem::options(o); })
      // The one start (options::start) under three names: each reads what it set, else nothing,
      // and setting one replaces whichever was set.
      .def_property(
          "initial_means",
          [](const mogem::options &o) {
            const auto *means = std::get_if<std::vector<double>>(&o.start);
            return means ? *means : std::vector<double>();
          },
          [](mogem::options &o, std::vector<double> means) { o.start = std::move(means); })
      .def_property(
          "means_file",
          [](const mogem::options &o) {
            const auto *file = std::get_if<mogem::means_file_start>(&o.start);
            return file ? file->path : std::string();
          },
          [](mogem::options &o, std::string path) { o.start = mogem::means_file_start{std::move(path)}; })
      .def_property(
          "start_model",
          [](const mogem::options &o) {
            const auto *held = std::get_if<std::shared_ptr<const mogem::model>>(&o.start);
            return held ? std::const_pointer_cast<mogem::model>(*held) : model_ptr();
          },
          [](mogem::options &o, model_ptr start) { o.start = std::shared_ptr<const mogem::model>(std::move(start)); });
}

void bind_model(py::module_ &m) {
  py::class_<mogem::model, model_ptr>(m, "Model", "A fitted mixture; its arrays are read-only views.")
      .def_property_readonly("covariance", [](const mogem::model &f) { return f.kind; })
      .def_property_readonly("distance", [](const mogem::model &f) { return f.distance; })
      .def_property_readonly("method", [](const mogem::model &f) { return f.method; })
      .def_readonly("classes", &mogem::model::classes)
      .def_readonly("features", &mogem::model::features)
      .def_readwrite("feature_names", &mogem::model::feature_names)
      .def_readonly("unit_length", &mogem::model::unit_length)
      .def_readonly("inverse_temperature", &mogem::model::inverse_temperature)
      .def_readonly("steps", &mogem::model::steps)
      .def_readonly("converged", &mogem::model::converged)
      .def_readonly("stopped_by", &mogem::model::stopped_by)
      .def_property_readonly("weights",
                             [](py::object self) {
                               const auto &f = self.cast<const mogem::model &>();
                               return view(f.weights, {f.classes}, self);
                             })
      .def_property_readonly("means",
                             [](py::object self) {
                               const auto &f = self.cast<const mogem::model &>();
                               return view(f.means, {f.classes, f.features}, self);
                             })
      .def_property_readonly("covariances",
                             [](py::object self) {
                               const auto &f = self.cast<const mogem::model &>();
                               return view(f.covariances, covariance_shape(f), self);
                             })
      .def_property_readonly("centre",
                             [](py::object self) {
                               const auto &f = self.cast<const mogem::model &>();
                               return view(f.centre, {static_cast<py::ssize_t>(f.centre.size())}, self);
                             })
      .def_property_readonly("statistics", [](const mogem::model &f) { return statistics_dict(f.statistics); })
      .def(
          "replaced",
          [](const mogem::model &f, std::optional<std::vector<double>> weights,
             std::optional<std::vector<double>> means, std::optional<std::vector<double>> covariances) {
            auto copy = std::make_shared<mogem::model>(f);
            const auto take = [](std::vector<double> &into, std::optional<std::vector<double>> &given, const char *what) {
              if (!given) return;
              if (given->size() != into.size())
                throw py::value_error(std::string("the ") + what + " hold " + std::to_string(given->size()) +
                                      " values; the model has " + std::to_string(into.size()));
              into = std::move(*given);
            };
            take(copy->weights, weights, "weights");
            take(copy->means, means, "means");
            take(copy->covariances, covariances, "covariances");
            return copy;
          },
          py::arg("weights") = py::none(), py::arg("means") = py::none(), py::arg("covariances") = py::none(),
          "A copy of the model with the arrays given (flat, in the model's order) in place of its own: "
          "a start for a fit (Options.start_model).")
      // Pickled as the saved model's JSON: everything but the training rows' labels and
      // posteriors.
      .def(py::pickle([](const mogem::model &f) { return mogem::model_to_json(f); },
                      [](const std::string &text) { return std::make_shared<mogem::model>(mogem::model_from_json(text, "a pickled model")); }));
}

// A fit: the model (sharing the result's memory) and what only the training rows have.
void bind_result(py::module_ &m) {
  py::class_<mogem::fit_result, result_ptr>(m, "FitResult", "A fit: the model and the training rows' results.")
      .def_property_readonly("model", [](const result_ptr &r) { return model_ptr(r, &r->model); })
      .def_property_readonly("labels",
                             [](py::object self) {
                               const auto &r = self.cast<const mogem::fit_result &>();
                               return view(r.labels, {static_cast<py::ssize_t>(r.labels.size())}, self);
                             })
      .def_property_readonly("posteriors",
                             [](py::object self) {
                               const auto &r = self.cast<const mogem::fit_result &>();
                               const py::ssize_t K = r.model.classes;
                               const py::ssize_t n = K ? static_cast<py::ssize_t>(r.posteriors.size()) / K : 0;
                               return view(r.posteriors, {K, n}, self);
                             })
      .def_property_readonly("restarts",
                             [](const mogem::fit_result &r) {
                               py::list records;
                               for (const auto &one : r.restarts) records.append(restart_dict(one));
                               return records;
                             })
      .def_readonly("chosen_restart", &mogem::fit_result::chosen_restart);
}

// The process group of a capsule mogem._mpi made (comm=), or null for None: the fit then runs
// over those processes, each with its own rows.
const mogem::process_group *group_of(const py::object &processes) {
  if (processes.is_none()) return nullptr;
  if (!PyCapsule_CheckExact(processes.ptr())) throw py::type_error("processes must be None or mogem._mpi's capsule");
  void *group = PyCapsule_GetPointer(processes.ptr(), "mogem.process_group");
  if (!group) throw py::error_already_set();
  return static_cast<const mogem::process_group *>(group);
}

py::tuple prediction_tuple(mogem::prediction &&p, int classes) {
  const py::ssize_t n = static_cast<py::ssize_t>(p.labels.size());
  return py::make_tuple(owned(std::move(p.posteriors), {classes, n}), owned(std::move(p.labels), {n}),
                        owned(std::move(p.log_densities), {n}));
}

// The selection: its table as a list of dicts, one per candidate.
void bind_select(py::module_ &m) {
  m.def(
      "select",
      [](const rows_array &X, const mogem::options &settings, int min_classes, int max_classes,
         const std::vector<mogem::covariance_kind> &kinds, mogem::criterion by, const py::object &processes) {
        const mogem::matrix_view data = rows_of(X);
        mogem::selection_settings choice;
        choice.min_classes = min_classes;
        choice.max_classes = max_classes;
        choice.kinds = kinds;
        choice.by = by;
        fit_hooks hooks;
        hooks.hooks.processes = group_of(processes);
        mogem::selection chosen = without_gil([&] { return mogem::select_model(data, settings, choice, hooks.hooks); });
        py::list table;
        for (const auto &c : chosen.candidates) {
          py::dict row;
          row["classes"] = c.classes;
          row["covariance"] = c.covariance;
          row["failed"] = c.failed;
          row["failure"] = c.failure;
          row["statistics"] = statistics_dict(c.statistics);
          row["steps"] = c.steps;
          row["converged"] = c.converged;
          table.append(row);
        }
        return py::make_tuple(table, chosen.chosen, std::make_shared<mogem::fit_result>(std::move(chosen.best)),
                              hooks.warnings);
      },
      py::arg("X"), py::arg("options"), py::arg("min_classes"), py::arg("max_classes"), py::arg("kinds"),
      py::arg("criterion"), py::arg("processes") = py::none(), "Fits every candidate; returns (candidates, chosen index, chosen fit, warnings).");
}

void bind_calls(py::module_ &m) {
  m.def(
      "fit",
      [](const rows_array &X, const mogem::options &settings, py::object on_step, const py::object &processes) {
        const mogem::matrix_view data = rows_of(X);
        fit_hooks hooks(std::move(on_step));
        hooks.hooks.processes = group_of(processes);
        result_ptr fitted =
            without_gil([&] { return std::make_shared<mogem::fit_result>(mogem::fit(data, settings, hooks.hooks)); });
        return py::make_tuple(fitted, hooks.warnings);
      },
      py::arg("X"), py::arg("options"), py::arg("on_step") = py::none(), py::arg("processes") = py::none(),
      "Fits a mixture to the rows of X; returns (fit result, warnings). X is used where it lies when it "
      "is C-contiguous float64. on_step(restart, step, objective), when given, hears of every EM step. With "
      "processes (mogem._mpi), X is this process's share of the rows.");
  // The words the command line uses at the end of a fit, with the estimator's parameter names.
  m.def(
      "budget_warning",
      [](const model_ptr &fitted, int budget) { return mogem::detail::budget_warning(*fitted, budget, {}); },
      py::arg("model"), py::arg("budget"), "\"\" when the fit met its stop rule, else the words of its budget.");
  m.def(
      "floor_warning", [](const model_ptr &fitted) { return mogem::detail::floor_warning(*fitted, {}); },
      py::arg("model"), "\"\" when no variance was held at the floor in the last step, else how many and the remedy.");
  m.def(
      "fit_report",
      [](const result_ptr &fitted, int budget) { return mogem::detail::fit_report(*fitted, budget, {}); },
      py::arg("result"), py::arg("budget"), "The end of a fit for a person, as the command line prints it.");
  m.def("is_random", &mogem::is_random, py::arg("init"), "Whether the start draws random numbers.");
  m.def("restart_seed", &mogem::restart_seed, py::arg("random_seed"), py::arg("restart"),
        "The seed the fit's restart (1-based) runs with.");
  m.def(
      "predict_all",
      [](const model_ptr &fitted, const rows_array &X, int threads, mogem::missing_values missing) {
        const mogem::matrix_view rows = rows_of(X);
        return prediction_tuple(without_gil([&] { return mogem::predict_all(*fitted, rows, threads, missing); }),
                                fitted->classes);
      },
      py::arg("model"), py::arg("X"), py::arg("threads") = 0, py::arg("missing") = mogem::missing_values::refuse,
      "(posteriors of shape (K, n), labels, log densities) of the rows of X under the model; under "
      "MissingValues.em a NaN is a missing value.");
  m.def(
      "score_samples",
      [](const model_ptr &fitted, const rows_array &X, int threads, mogem::missing_values missing) {
        const mogem::matrix_view rows = rows_of(X);
        std::vector<double> scores =
            without_gil([&] { return mogem::score_samples(*fitted, rows, threads, missing); });
        const py::ssize_t n = static_cast<py::ssize_t>(scores.size());
        return owned(std::move(scores), {n});
      },
      py::arg("model"), py::arg("X"), py::arg("threads") = 0, py::arg("missing") = mogem::missing_values::refuse,
      "The log density of each row of X under the model (of its observed values under MissingValues.em).");
  m.def(
      "impute",
      [](const model_ptr &fitted, const rows_array &X, int threads) {
        const mogem::matrix_view rows = rows_of(X);
        std::vector<double> filled = without_gil([&] { return mogem::impute(*fitted, rows, threads); });
        return owned(std::move(filled), {static_cast<py::ssize_t>(rows.rows), static_cast<py::ssize_t>(rows.cols)});
      },
      py::arg("model"), py::arg("X"), py::arg("threads") = 0,
      "The rows of X, each NaN replaced by its expectation under the model given the row's observed values.");
  m.def(
      "ordered_sum",
      [](const py::array_t<double, py::array::c_style | py::array::forcecast> &values) {
        double sum = 0.0;
        const double *v = values.data();
        for (py::ssize_t i = 0; i < values.size(); i++) sum += v[i];
        return sum;
      },
      py::arg("values"), "The sum of the values in index order, as the library adds log densities.");
  m.def("free_parameters", &mogem::free_parameters, py::arg("kind"), py::arg("classes"), py::arg("features"));
  m.def(
      "model_to_json", [](const model_ptr &fitted) { return mogem::model_to_json(*fitted); }, py::arg("model"));
  m.def(
      "model_from_json",
      [](const std::string &text, const std::string &name) {
        return std::make_shared<mogem::model>(mogem::model_from_json(text, name));
      },
      py::arg("text"), py::arg("name") = "the model text");
  m.def(
      "write_model_file", [](const std::string &path, const model_ptr &fitted) { mogem::write_model_file(path, *fitted); },
      py::arg("path"), py::arg("model"));
  m.def(
      "read_model_file", [](const std::string &path) { return std::make_shared<mogem::model>(mogem::read_model_file(path)); },
      py::arg("path"));
}

// The keys of the parameter file, one dict per row of the settings table (io/settings.h): key,
// kind, words, default (as a file writes it), sets, runs, help, and the bounds of a checked value.
void bind_settings_table(py::module_ &m) {
  m.def("settings_table", [] {
    static const char *const kinds[] = {"integer", "real", "boolean", "keyword", "file_name", "text"};
    py::list rows;
    for (const mogem::detail::setting &row : mogem::detail::settings_table()) {
      py::dict entry;
      entry["key"] = row.key;
      entry["kind"] = kinds[static_cast<int>(row.kind)];
      entry["words"] = std::vector<std::string>(row.words.begin(), row.words.end());
      entry["default"] = row.default_text;
      entry["sets"] = row.sets;
      entry["runs"] = row.runs;
      entry["help"] = row.help;
      entry["least"] = row.rule ? py::cast(row.least) : py::none();
      entry["most"] = row.rule ? py::cast(row.most) : py::none();
      rows.append(entry);
    }
    return rows;
  });
}

}  // namespace

PYBIND11_MODULE(_mogem, m) {
  m.doc() = "The mogem library: Gaussian mixtures fitted by EM or annealing EM, bit for bit reproducible.";
  // mogem.FitError: the fit failed numerically (a covariance that cannot be factorised, a model
  // that became not-a-number); `kind` says which, the message says what to change. A ValueError,
  // as scikit-learn raises for such a fit.
  static py::exception<mogem::error> fit_error(m, "FitError", PyExc_ValueError);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const mogem::error &e) {
      switch (e.what_kind()) {
        case mogem::error::kind::invalid_input: PyErr_SetString(PyExc_ValueError, e.what()); return;
        case mogem::error::kind::write_failure: PyErr_SetString(PyExc_OSError, e.what()); return;
        default: break;
      }
      py::object raised = py::reinterpret_borrow<py::object>(fit_error.ptr())(e.what());
      raised.attr("kind") = kind_name(e.what_kind());
      PyErr_SetObject(fit_error.ptr(), raised.ptr());
    }
  });
  bind_enums(m);
  bind_options(m);
  bind_model(m);
  bind_result(m);
  bind_calls(m);
  bind_select(m);
  bind_settings_table(m);
}
