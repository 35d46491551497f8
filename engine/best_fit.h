// The best of several fits: the restarts of one fit and the candidates of a selection both run
// several fits, record the ones that fail numerically and keep one winner. Winners are chosen
// by a total order that ends in the fit's index, so the winner does not depend on the order in
// which fits finish (candidates finish in any order on several threads).
#ifndef MOGEM_ENGINE_BEST_FIT_H
#define MOGEM_ENGINE_BEST_FIT_H

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "mogem/mogem.h"

namespace mogem::detail {

// Whether a fit failed in a way that ends that fit alone (a covariance that cannot be
// factorised, a breakdown): a restart or candidate then fails, the others go on.
bool is_fit_failure(const error &failure);

// Runs fit_one; a fit failure is handed to on_failure and false returned, anything else passes on.
bool attempt(const std::function<void()> &fit_one, const std::function<void(const error &)> &on_failure);

class best_of_fits {
 public:
  // beats(a, ia, b, ib): whether fit a (index ia) wins over fit b (index ib); a strict order
  // that decides between any two indices.
  using order = std::function<bool(const fit_result &a, int ia, const fit_result &b, int ib)>;
  explicit best_of_fits(order beats) : beats_(std::move(beats)) {}

  // Offers fit `index`; kept while it is the best so far, else dropped at once (so memory holds
  // one best). Safe to call from several threads.
  void offer(int index, fit_result fitted);
  // Records that fit `index` failed; the failure of the lowest index is kept.
  void failed(int index, const error &failure);

  bool any() const { return chosen_ >= 0; }
  int chosen() const { return chosen_; }  // the index of the best, -1 when none
  // The best fit; throws the failure of the lowest index when every fit failed.
  fit_result take();

 private:
  order beats_;
  std::mutex lock_;
  int chosen_ = -1;
  fit_result best_;
  int failed_index_ = -1;
  std::unique_ptr<error> failure_;
};

}  // namespace mogem::detail

#endif
