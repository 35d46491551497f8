// One fit over several processes (mogem::process_group), here threads of one process
// (support/thread_processes.h): every process must get the model one process gets on all the
// rows, bit for bit, with its own rows' labels and posteriors, and the same error. The processes
// draw their random starts and anneal at the same time in one process, and a selection runs its
// candidates side by side: fits running at once share no state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/same_model.h"
#include "support/thread_processes.h"

namespace {

struct outcome {
  mogem::fit_result fitted;
  std::string failure;  // the error's message, empty when the fit succeeded
};

std::vector<outcome> fit_over(const std::vector<double> &values, std::size_t cols,
                              const std::vector<std::size_t> &starts, const mogem::options &o) {
  return over_shares(values, cols, starts, [&](const double *mine, std::size_t rows, const mogem::callbacks &hooks) {
    outcome out;
    try {
      out.fitted = mogem::fit({mine, rows, cols}, o, hooks);
    } catch (const mogem::error &e) {
      out.failure = e.what();
    }
    return out;
  });
}

}  // namespace

TEST(Processes, EveryProcessGetsTheModelOfOneProcess) {
  const std::vector<double> values = four_groups(400, 5, 9, 2.5);
  const std::size_t cols = 5, rows = values.size() / cols;
  struct setting {
    mogem::covariance_kind kind;
    mogem::initialization init;
    mogem::algorithm method;
    bool correlation;
    mogem::stop_rule stop = mogem::stop_rule::weights;  // loglik: its mean goes on through the processes
  } settings[] = {
      {mogem::covariance_kind::diagonal, mogem::initialization::church_means, mogem::algorithm::em, false},
      {mogem::covariance_kind::full, mogem::initialization::random_means, mogem::algorithm::em, true},
      {mogem::covariance_kind::scalar, mogem::initialization::random_sample, mogem::algorithm::em, false},
      {mogem::covariance_kind::diagonal, mogem::initialization::random_point, mogem::algorithm::annealing, false},
      {mogem::covariance_kind::full, mogem::initialization::random_range, mogem::algorithm::annealing, false},
      {mogem::covariance_kind::tied, mogem::initialization::random_means, mogem::algorithm::em, false},
      {mogem::covariance_kind::diagonal, mogem::initialization::church_means, mogem::algorithm::em, false,
       mogem::stop_rule::loglik},
      {mogem::covariance_kind::full, mogem::initialization::random_range, mogem::algorithm::annealing, false,
       mogem::stop_rule::loglik},
  };
  // Shares of unequal size, one of them empty, and one process per row for the first rows.
  const std::vector<std::vector<std::size_t>> cuts = {{0, 150}, {0, 7, 7, 333}, {0, 1, 2, 3, 200}};
  for (const setting &s : settings) {
    mogem::options o;
    o.classes = 4;
    o.covariance = s.kind;
    o.init = s.init;
    o.method = s.method;
    o.distance = s.correlation ? mogem::metric::correlation : mogem::metric::euclidean;
    o.center = s.correlation;
    o.samples = 30;
    o.max_iterations = 12;
    o.init_temp = 4.0;
    o.schedule_scalar = 0.6;
    o.threads = 1;
    o.stop = s.stop;
    o.tol = 1e-2;
    const mogem::fit_result alone = mogem::fit({values.data(), rows, cols}, o);
    if (s.stop == mogem::stop_rule::loglik) EXPECT_EQ(alone.model.stopped_by, "loglik");
    for (const std::vector<std::size_t> &starts : cuts) {
      const std::vector<outcome> shared = fit_over(values, cols, starts, o);
      for (std::size_t r = 0; r < shared.size(); r++) {
        SCOPED_TRACE("process " + std::to_string(r) + " of " + std::to_string(shared.size()) + ", setting " +
                     std::to_string(&s - settings));
        const mogem::fit_result &f = shared[r].fitted;
        const std::size_t first = starts[r], n = (r + 1 < starts.size() ? starts[r + 1] : rows) - first;
        ASSERT_EQ(shared[r].failure, "");
        EXPECT_TRUE(same_model(f.model, alone.model) && same_bits(f.model.centre, alone.model.centre));
        EXPECT_EQ(f.model.stopped_by, alone.model.stopped_by);
        ASSERT_EQ(f.labels.size(), n);
        EXPECT_TRUE(std::equal(f.labels.begin(), f.labels.end(), alone.labels.begin() + first));
        for (int k = 0; k < o.classes; k++)
          EXPECT_EQ(std::memcmp(f.posteriors.data() + k * n, alone.posteriors.data() + k * rows + first,
                                n * sizeof(double)), 0) << "class " << k;
      }
    }
  }
}

TEST(Processes, AFailureOnOneProcessIsEveryProcesssFailure) {
  std::vector<double> values = four_groups(400, 5, 9, 2.5);
  values[5 * 300 + 2] = std::nan("");  // row 301, in the last share
  mogem::options o;
  o.classes = 3;
  o.max_iterations = 3;
  const std::string alone = fit_over(values, 5, {0}, o)[0].failure;
  ASSERT_NE(alone.find("row 301, column 3"), std::string::npos) << alone;
  for (const outcome &process : fit_over(values, 5, {0, 100, 250}, o)) EXPECT_EQ(process.failure, alone);
}

// A selection over processes runs its candidates one after another over all of them: the table
// and the chosen model are those of one process, whose candidates ran side by side. (That the
// choice has the lowest criterion and is the candidate's own fit: tests/python/test_estimator.py.)
TEST(Processes, ASelectionChoosesTheLowestCriterionAsOneProcessDoes) {
  const std::vector<double> values = four_groups(400, 5, 9, 2.5);
  const mogem::matrix_view all = {values.data(), values.size() / 5, 5};
  mogem::options o;
  o.max_iterations = 10;
  o.threads = 2;
  mogem::selection_settings choice;
  choice.max_classes = 3;
  choice.kinds = {mogem::covariance_kind::scalar, mogem::covariance_kind::tied, mogem::covariance_kind::full};
  const mogem::selection alone = mogem::select_model(all, o, choice);
  ASSERT_EQ(alone.candidates.size(), 9u);
  for (const mogem::selection &s :
       over_shares(values, 5, {0, 7, 200}, [&](const double *mine, std::size_t rows, const mogem::callbacks &hooks) {
         return mogem::select_model({mine, rows, 5}, o, choice, hooks);
       })) {
    ASSERT_EQ(s.candidates.size(), alone.candidates.size());
    for (std::size_t c = 0; c < s.candidates.size(); c++)
      EXPECT_EQ(std::memcmp(&s.candidates[c].statistics.bic, &alone.candidates[c].statistics.bic, sizeof(double)), 0);
    EXPECT_EQ(s.chosen, alone.chosen);
    EXPECT_TRUE(same_model(s.best.model, alone.best.model));
  }
  choice.min_classes = 3;
  choice.max_classes = 2;
  EXPECT_THROW(mogem::select_model(all, o, choice), mogem::error);
}
