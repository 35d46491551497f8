#include "engine/best_fit.h"

namespace mogem::detail {

bool is_fit_failure(const error &failure) {
  return failure.what_kind() == error::kind::numerical_failure || failure.what_kind() == error::kind::breakdown;
}

bool attempt(const std::function<void()> &fit_one, const std::function<void(const error &)> &on_failure) {
  try {
    fit_one();
    return true;
  } catch (const error &failure) {
    if (!is_fit_failure(failure)) throw;
    on_failure(failure);
    return false;
  }
}

void best_of_fits::offer(int index, fit_result fitted) {
  std::lock_guard<std::mutex> hold(lock_);
  if (chosen_ >= 0 && !beats_(fitted, index, best_, chosen_)) return;
  best_ = std::move(fitted);
  chosen_ = index;
}

void best_of_fits::failed(int index, const error &failure) {
  std::lock_guard<std::mutex> hold(lock_);
  if (failure_ && failed_index_ < index) return;
  failure_ = std::make_unique<error>(failure);
  failed_index_ = index;
}

fit_result best_of_fits::take() {
  if (chosen_ < 0) throw *failure_;
  return std::move(best_);
}

}  // namespace mogem::detail
