// Model selection (mogem/mogem.h): every candidate of classes x kind fitted, the best by the
// criterion kept.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "engine/best_fit.h"
#include "engine/kernels/parallel.h"
#include "engine/names.h"
#include "engine/work_pool.h"
#include "mogem/mogem.h"
#include "mogem/processes.h"
#include "nr/nr_util.h"

namespace mogem {

namespace {

using namespace detail;

// Candidates side by side keep a fit of each on its own thread, with up to two sets of
// posteriors each (the restart running and the best so far): allowed while all of them hold
// at most this many values.
constexpr double SIDE_BY_SIDE_POSTERIORS = 64.0 * 1024 * 1024;

double criterion_of(const fit_statistics &s, criterion by) {
  switch (by) {
    case criterion::bic: return s.bic;
    case criterion::aic: return s.aic;
    case criterion::icl: break;
  }
  return s.icl;
}

// Whether candidate a (index ia) beats candidate b: the lower criterion (a NaN never wins but
// loses to any number), then fewer parameters, then the earlier candidate.
best_of_fits::order better_by(criterion by) {
  return [by](const fit_result &a, int ia, const fit_result &b, int ib) {
    const double ca = criterion_of(a.model.statistics, by), cb = criterion_of(b.model.statistics, by);
    if (std::isnan(ca) || std::isnan(cb)) return std::isnan(ca) == std::isnan(cb) ? ia < ib : std::isnan(cb);
    if (ca != cb) return ca < cb;
    const long pa = a.model.statistics.parameters, pb = b.model.statistics.parameters;
    if (pa != pb) return pa < pb;
    return ia < ib;
  };
}

void check_choice(const options &settings, const selection_settings &choice) {
  if (choice.min_classes < 1 || choice.max_classes < choice.min_classes)
    refuse("the class counts to select from are %d to %d; they must run from 1 or more upwards", choice.min_classes,
           choice.max_classes);
  const char *several = "snapshots (%s %d) follow one fit; a selection runs several. Set %s 0";
  if (settings.snapshot_every > 0)
    throw error(error::kind::invalid_input,
                format_text(several, "snapshot_every", settings.snapshot_every, "snapshot_every"))
        .about("snapshot_every", format_text(several, "output_stepsize", settings.snapshot_every, "output_stepsize"));
  if (settings.init == initialization::given_means || settings.init == initialization::saved_model)
    throw error(error::kind::invalid_input,
                format_text("a selection fits every class count from %d to %d; starting means or a starting model "
                            "hold one count. Choose another initialization",
                            choice.min_classes, choice.max_classes))
        .about("init", "");
}

// The rows over all processes: over several, `data` is this process's share.
std::size_t all_rows_of(matrix_view data, const process_group *group) {
  if (!group) return data.rows;
  std::vector<double> counts(static_cast<std::size_t>(group->size));
  const double mine = static_cast<double>(data.rows);
  group->gather(&mine, 1, counts.data());
  std::size_t all = 0;
  for (double n : counts) all += static_cast<std::size_t>(n);
  return all;
}

// The candidates in order: kinds as given, classes ascending within a kind. Each record starts
// as a failure would leave it: its classes in effect and its free parameters.
void plan_candidates(const options &settings, const selection_settings &choice, std::size_t all_rows,
                     std::size_t features, std::vector<options> &plans, std::vector<candidate> &records) {
  std::vector<covariance_kind> kinds = choice.kinds;
  if (kinds.empty()) kinds.push_back(settings.covariance);
  for (covariance_kind kind : kinds) {
    for (int K = choice.min_classes; K <= choice.max_classes; K++) {
      options one = settings;
      one.covariance = kind;
      one.classes = K;
      plans.push_back(one);
      candidate c;
      c.classes = static_cast<int>(std::min<std::size_t>(K, all_rows));
      c.covariance = kind;
      c.statistics.parameters = free_parameters(kind, c.classes, static_cast<int>(features));
      records.push_back(c);
    }
  }
}

// The data as the fits see them are the same for every candidate: shown once, from a fit of
// one class that runs no step.
void show_transformed_data(matrix_view data, const options &settings, const callbacks &hooks) {
  if (!hooks.on_transformed_data) return;
  options shown = settings;
  shown.classes = 1;
  shown.max_iterations = 0;
  shown.restarts = 1;
  shown.init = initialization::church_means;
  callbacks only;
  only.on_transformed_data = hooks.on_transformed_data;
  fit(data, shown, only);
}

// One candidate's fit: its record filled in and the fit offered, or its failure recorded.
void fit_candidate(matrix_view data, const options &plan, const callbacks &hooks, int index, candidate &record,
                   best_of_fits &best) {
  attempt(
      [&] {
        fit_result fitted = fit(data, plan, hooks);
        record.classes = fitted.model.classes;
        record.statistics = fitted.model.statistics;
        record.steps = fitted.model.steps;
        record.converged = fitted.model.converged;
        best.offer(index, std::move(fitted));
      },
      [&](const error &failure) {
        record.failed = true;
        record.failure = failure.what();
        record.failure_in_file_terms = failure.in_file_terms();
        best.failed(index, failure);
      });
}

// Every candidate on one thread each, side by side. Warnings reach the caller afterwards, in
// candidate order; the caller's progress callback hears, after every EM step of any candidate,
// how many candidates are done, and an exception from it stops them all.
void fit_side_by_side(matrix_view data, std::vector<options> &plans, std::vector<candidate> &records,
                      best_of_fits &best, int workers, const callbacks &hooks) {
  const int count = static_cast<int>(plans.size());
  std::vector<std::vector<std::string>> warnings(plans.size());
  std::atomic<bool> stop{false};
  auto job = [&](int c, const std::function<void()> &progressed) {
    callbacks each;
    each.warning = [&warnings, c](const std::string &text) { warnings[c].push_back(text); };
    // Every EM step wakes the caller's thread, so that its callback can stop the run at once.
    const bool heard = static_cast<bool>(hooks.on_progress);
    each.on_progress = [&stop, &progressed, heard](const progress &) {
      if (stop) throw pool_stopped{};
      if (heard) progressed();
    };
    plans[c].threads = 1;
    fit_candidate(data, plans[c], each, c, records[c], best);
  };
  bool caller_stopped = false;
  auto news = [&](int done) {
    if (!hooks.on_progress) return;
    progress at{};
    at.candidates_done = done;
    at.candidates = count;
    try {
      hooks.on_progress(at);
    } catch (...) {
      caller_stopped = true;
      throw;
    }
  };
  auto give_warnings = [&] {
    if (hooks.warning)
      for (const std::vector<std::string> &texts : warnings)
        for (const std::string &text : texts) hooks.warning(text);
  };
  try {
    run_side_by_side(count, workers, job, news, stop);
  } catch (...) {
    // A candidate's own failure comes after the warnings of all; the caller's stop at once.
    if (!caller_stopped) give_warnings();
    throw;
  }
  give_warnings();
}

}  // namespace

selection select_model(matrix_view data, const options &settings, const selection_settings &choice,
                       const callbacks &hooks) {
  check_choice(settings, choice);
  // Over several processes the candidates run one after another, each over every process.
  const process_group *group = hooks.processes && hooks.processes->size > 1 ? hooks.processes : nullptr;
  const std::size_t all_rows = all_rows_of(data, group);
  std::vector<options> plans;
  selection out;
  plan_candidates(settings, choice, all_rows, data.cols, plans, out.candidates);
  const int count = static_cast<int>(plans.size());
  const int largest = static_cast<int>(std::min<std::size_t>(choice.max_classes, all_rows));
  const int workers = std::min(threads_for(settings.threads), count);
  const bool side_by_side = !group && workers > 1 &&
                            2.0 * workers * static_cast<double>(data.rows) * largest <= SIDE_BY_SIDE_POSTERIORS;

  show_transformed_data(data, settings, hooks);
  best_of_fits best(better_by(choice.by));
  if (side_by_side) {
    fit_side_by_side(data, plans, out.candidates, best, workers, hooks);
  } else {
    callbacks each = hooks;
    each.on_transformed_data = nullptr;
    for (int c = 0; c < count; c++) fit_candidate(data, plans[c], each, c, out.candidates[c], best);
  }
  out.chosen = static_cast<std::size_t>(best.chosen());
  out.best = best.take();
  return out;
}

}  // namespace mogem
