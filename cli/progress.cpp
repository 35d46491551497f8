#include "cli/progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace mogem::detail {

namespace {

using progress_clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

}  // namespace

struct em_progress {
  progress_clock::time_point next_draw;  // the first update is drawn at once
  int width = 0;                         // characters of the line now on the screen
  int budget = 0, restarts = 0;          // the commands' line when the budget is set
  progress_clock::time_point started = progress_clock::now();
};

namespace {

// Draws text over the current line, blanks what a longer earlier line left, and puts the
// cursor back at the start: a message written while the line stands begins at column 0.
void draw(em_progress *progress, const char *text) {
  int length = std::fprintf(stderr, "\r%s", text) - 1;
  if (length < 0) return;
  if (progress->width > length) std::fprintf(stderr, "%*s", progress->width - length, "");
  std::fputc('\r', stderr);
  std::fflush(stderr);
  if (length > progress->width) progress->width = length;
}

}  // namespace

em_progress *progress_start_if_terminal() { return isatty(STDERR_FILENO) ? new em_progress{} : nullptr; }

void progress_set_budget(em_progress *progress, int budget, int restarts) {
  progress->budget = budget;
  progress->restarts = restarts;
}

void progress_em_step(em_progress *progress, const mogem::progress &at) {
  const progress_clock::time_point now = progress_clock::now();
  if (now < progress->next_draw) return;
  progress->next_draw = now + REDRAW_INTERVAL;
  char text[200];
  const double seconds = std::chrono::duration<double>(now - progress->started).count();
  if (progress->budget > 0 && at.candidates == 0 && !at.annealing) {
    char change[48] = "";
    if (!std::isnan(at.loglik_change)) std::snprintf(change, sizeof change, ", log-likelihood change %.3g", at.loglik_change);
    else std::snprintf(change, sizeof change, ", weight change %.3g", at.weight_change);
    char restart[48] = "";
    if (progress->restarts > 1) std::snprintf(restart, sizeof restart, "restart %d of %d: ", at.restart, progress->restarts);
    std::snprintf(text, sizeof text, "%sEM step %d of %d%s, %.1f s", restart, at.step + 1, progress->budget, change,
                  seconds);
  } else if (at.candidates > 0 && progress->budget > 0) {
    std::snprintf(text, sizeof text, "selection: %d of %d candidates fitted, %.1f s", at.candidates_done,
                  at.candidates, seconds);
  } else if (at.candidates > 0)
    std::snprintf(text, sizeof text, "selection: %d of %d candidates fitted", at.candidates_done, at.candidates);
  else if (at.annealing)
    std::snprintf(text, sizeof text, "annealing: temperature %.4g, %d of %d classes, EM step %d, weight change %.3g",
                  at.temperature, at.classes, at.max_classes, at.step, at.weight_change);
  else if (at.restart > 1)
    std::snprintf(text, sizeof text, "restart %d, EM step %d, weight change %.3g", at.restart, at.step,
                  at.weight_change);
  else
    std::snprintf(text, sizeof text, "EM step %d, weight change %.3g", at.step, at.weight_change);
  draw(progress, text);
}

void progress_finish(em_progress *progress) {
  if (!progress) return;
  if (progress->width > 0) {
    std::fprintf(stderr, "\r%*s\r", progress->width, "");
    std::fflush(stderr);
  }
  delete progress;
}

}  // namespace mogem::detail
