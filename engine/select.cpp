// Model selection (mogem/mogem.h): every candidate of classes x kind fitted, the best by the
// criterion kept.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/kernels/parallel.h"
#include "engine/names.h"
#include "mogem/mogem.h"
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

// Whether candidate a beats candidate b: the lower criterion, then fewer parameters; the
// earlier candidate keeps a tie. A failed candidate or a NaN criterion never wins.
bool better(const candidate &a, const candidate &b, criterion by) {
  if (a.failed) return false;
  if (b.failed) return true;
  const double ca = criterion_of(a.statistics, by), cb = criterion_of(b.statistics, by);
  if (std::isnan(ca)) return false;
  if (std::isnan(cb)) return true;
  if (ca != cb) return ca < cb;
  return a.statistics.parameters < b.statistics.parameters;
}

struct outcome {
  candidate record;
  std::unique_ptr<model> fitted;        // null when it failed
  std::unique_ptr<error> failure;       // the first restart's error when every one failed
  std::vector<std::string> warnings;    // side by side: given to the caller afterwards
  std::exception_ptr stopped;           // anything else that ended the fit
};

// A stop requested by the caller's progress callback, carried to the candidates' threads.
struct stop_request {};

}  // namespace

selection select_model(matrix_view data, const options &settings, const selection_settings &choice,
                       const callbacks &hooks) {
  if (choice.min_classes < 1 || choice.max_classes < choice.min_classes)
    refuse_input("Error: the class counts to select from are %d to %d; they must run from 1 or more upwards",
                 choice.min_classes, choice.max_classes);
  if (settings.snapshot_every > 0)
    refuse_input("Error: snapshots (output_stepsize %d) follow one fit; a selection runs several. Set "
                 "output_stepsize 0", settings.snapshot_every);
  if (settings.init == initialization::given_means || settings.init == initialization::saved_model)
    refuse_input("Error: a selection fits every class count from %d to %d; starting means or a starting model "
                 "hold one count. Choose another initialization", choice.min_classes, choice.max_classes);
  std::vector<covariance_kind> kinds = choice.kinds;
  if (kinds.empty()) kinds.push_back(settings.covariance);

  // Over several processes `data` is this process's share: the class counts are bounded by
  // all the rows, and the candidates run one after another, each over every process.
  const process_group *group = hooks.processes && hooks.processes->size > 1 ? hooks.processes : nullptr;
  std::size_t all_rows = data.rows;
  if (group) {
    std::vector<double> counts(static_cast<std::size_t>(group->size));
    const double mine = static_cast<double>(data.rows);
    group->gather(&mine, 1, counts.data());
    all_rows = 0;
    for (double n : counts) all_rows += static_cast<std::size_t>(n);
  }
  std::vector<options> plans;
  std::vector<outcome> outcomes;
  for (covariance_kind kind : kinds) {
    for (int K = choice.min_classes; K <= choice.max_classes; K++) {
      options one = settings;
      one.covariance = kind;
      one.classes = K;
      plans.push_back(one);
      outcome o;
      o.record.classes = static_cast<int>(std::min<std::size_t>(K, all_rows));
      o.record.covariance = kind;
      o.record.statistics.parameters = free_parameters(kind, o.record.classes, static_cast<int>(data.cols));
      outcomes.push_back(std::move(o));
    }
  }
  const int count = static_cast<int>(plans.size());
  const int threads = threads_for(settings.threads);
  const int largest = static_cast<int>(std::min<std::size_t>(choice.max_classes, all_rows));
  const int workers = std::min(threads, count);
  const bool side_by_side = !group && workers > 1 &&
                            2.0 * workers * static_cast<double>(data.rows) * largest <= SIDE_BY_SIDE_POSTERIORS;

  std::atomic<bool> stop{false};
  auto fit_candidate = [&](int c, const callbacks &each) {
    outcome &o = outcomes[c];
    try {
      model fitted = fit(data, plans[c], each);
      o.record.classes = fitted.classes;
      o.record.statistics = fitted.statistics;
      o.record.steps = fitted.steps;
      o.record.converged = fitted.converged;
      o.fitted = std::make_unique<model>(std::move(fitted));
    } catch (const error &failure) {
      if (failure.what_kind() != error::kind::numerical_failure && failure.what_kind() != error::kind::breakdown)
        throw;
      o.record.failed = true;
      o.record.failure = failure.what();
      o.failure = std::make_unique<error>(failure);
    }
  };
  // The best so far keeps its labels and posteriors; every other candidate's go at once, so
  // memory holds the running fits and one best. The order of settling does not matter: the
  // comparison is a total order (criterion, parameters, candidate index).
  int best = -1;
  std::mutex best_lock;
  auto settle = [&](int c) {
    std::lock_guard<std::mutex> hold(best_lock);
    outcome &o = outcomes[c];
    if (o.record.failed) return;
    const bool wins = best < 0 || better(o.record, outcomes[best].record, choice.by) ||
                      (!better(outcomes[best].record, o.record, choice.by) && c < best);
    auto drop = [](model &m) {
      m.posteriors = std::vector<double>();
      m.labels = std::vector<int>();
    };
    if (!wins) {
      drop(*o.fitted);
      return;
    }
    if (best >= 0) drop(*outcomes[best].fitted);
    best = c;
  };

  // The data as the fits see them are the same for every candidate: shown once, from a fit
  // of one class that runs no step.
  if (hooks.on_transformed_data) {
    options shown = settings;
    shown.classes = 1;
    shown.max_iterations = 0;
    shown.restarts = 1;
    shown.init = initialization::church_means;
    callbacks only;
    only.on_transformed_data = hooks.on_transformed_data;
    fit(data, shown, only);
  }
  if (!side_by_side) {
    callbacks each = hooks;
    each.on_transformed_data = nullptr;
    for (int c = 0; c < count; c++) {
      fit_candidate(c, each);
      settle(c);
    }
  } else {
    std::atomic<int> next{0}, finished{0}, running{0};
    std::mutex wake_lock;
    std::condition_variable wake;
    auto work = [&]() {
      for (int c; !stop && (c = next++) < count;) {
        outcome &o = outcomes[c];
        callbacks each;
        each.warning = [&o](const std::string &text) { o.warnings.push_back(text); };
        each.on_progress = [&stop](const progress &) {
          if (stop) throw stop_request{};
        };
        try {
          plans[c].threads = 1;
          fit_candidate(c, each);
          settle(c);
        } catch (...) {
          o.stopped = std::current_exception();
          stop = true;
        }
        finished++;
      }
      std::lock_guard<std::mutex> hold(wake_lock);
      running--;
      wake.notify_one();
    };
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; w++) {
      running++;
      try {
        pool.emplace_back(work);
      } catch (const std::system_error &) {
        running--;  // the threads that did start take its share
      }
    }
    if (pool.empty()) {
      running++;
      work();
    }
    // The caller's progress callback runs here, on the caller's thread, while the candidates
    // fit: it sees how many are done, and an exception from it stops them all.
    std::exception_ptr caller_stop;
    for (;;) {
      std::unique_lock<std::mutex> lock(wake_lock);
      if (wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; })) break;
      lock.unlock();
      if (!hooks.on_progress || caller_stop) continue;
      progress at{};
      at.candidates_done = finished;
      at.candidates = count;
      try {
        hooks.on_progress(at);
      } catch (...) {
        caller_stop = std::current_exception();
        stop = true;
      }
    }
    for (std::thread &t : pool) t.join();
    if (caller_stop) std::rethrow_exception(caller_stop);
    for (outcome &o : outcomes) {
      if (hooks.warning)
        for (const std::string &text : o.warnings) hooks.warning(text);
    }
    for (outcome &o : outcomes) {
      if (!o.stopped) continue;
      try {
        std::rethrow_exception(o.stopped);
      } catch (const stop_request &) {
      }
    }
  }

  if (best < 0)
    for (outcome &o : outcomes)
      if (o.failure) throw *o.failure;
  selection out;
  for (outcome &o : outcomes) out.candidates.push_back(o.record);
  out.chosen = static_cast<std::size_t>(best);
  out.best = std::move(*outcomes[best].fitted);
  return out;
}

}  // namespace mogem
