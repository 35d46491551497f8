// One fit over several processes (mogem::process_group), here threads of one process
// (support/thread_processes.h): every process must get the model one process gets on all the
// rows, bit for bit, with its own rows' labels and posteriors, and the same error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
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

// The fit of `values` over processes holding the rows from each of `starts` (ascending, from
// 0) to the next, one thread each.
std::vector<outcome> fit_over(const std::vector<double> &values, std::size_t cols, const std::vector<std::size_t> &starts,
                              const mogem::options &o) {
  const int size = static_cast<int>(starts.size());
  const std::size_t rows = values.size() / cols;
  std::vector<outcome> out(size);
  run_as_processes(size, [&](const mogem::process_group &group) {
    const int r = group.rank;
    const std::size_t first = starts[r], last = r + 1 < size ? starts[r + 1] : rows;
    std::vector<double> mine(values.begin() + first * cols, values.begin() + last * cols);
    mogem::callbacks hooks;
    hooks.processes = &group;
    try {
      out[r].fitted = mogem::fit({mine.data(), last - first, cols}, o, hooks);
    } catch (const mogem::error &e) {
      out[r].failure = e.what();
    }
  });
  return out;
}

// Four overlapping groups in five features, 400 rows.
std::vector<double> four_groups() {
  std::mt19937_64 rng(9);
  std::normal_distribution<double> normal;
  std::vector<double> values;
  for (int i = 0; i < 400; i++)
    for (int j = 0; j < 5; j++) values.push_back(normal(rng) + 2.5 * (i % 4) * (j % 2 ? 1.0 : -0.5));
  return values;
}

}  // namespace

TEST(Processes, EveryProcessGetsTheModelOfOneProcess) {
  const std::vector<double> values = four_groups();
  const std::size_t cols = 5, rows = values.size() / cols;
  struct setting {
    mogem::covariance_kind kind;
    mogem::initialization init;
    mogem::algorithm method;
    bool correlation;
  } settings[] = {
      {mogem::covariance_kind::diagonal, mogem::initialization::church_means, mogem::algorithm::em, false},
      {mogem::covariance_kind::full, mogem::initialization::random_means, mogem::algorithm::em, true},
      {mogem::covariance_kind::scalar, mogem::initialization::random_sample, mogem::algorithm::em, false},
      {mogem::covariance_kind::diagonal, mogem::initialization::random_point, mogem::algorithm::annealing, false},
      {mogem::covariance_kind::full, mogem::initialization::random_range, mogem::algorithm::annealing, false},
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
    const mogem::fit_result fit_alone = mogem::fit({values.data(), rows, cols}, o);
    const mogem::model &alone = fit_alone.model;
    for (const std::vector<std::size_t> &starts : cuts) {
      const std::vector<outcome> shared = fit_over(values, cols, starts, o);
      std::vector<int> labels;
      std::vector<std::vector<double>> posteriors(o.classes);  // class by class, the shares in order
      for (std::size_t r = 0; r < shared.size(); r++) {
        const mogem::model &m = shared[r].fitted.model;
        const mogem::fit_result &f = shared[r].fitted;
        ASSERT_EQ(shared[r].failure, "") << "process " << r;
        EXPECT_TRUE(same_bits(m.weights, alone.weights) && same_bits(m.means, alone.means) &&
                    same_bits(m.covariances, alone.covariances) && same_bits(m.centre, alone.centre))
            << "process " << r << " of " << shared.size() << ", setting " << &s - settings;
        EXPECT_EQ(m.steps, alone.steps);
        labels.insert(labels.end(), f.labels.begin(), f.labels.end());
        const std::size_t n = f.labels.size();
        for (int k = 0; k < o.classes; k++)
          posteriors[k].insert(posteriors[k].end(), f.posteriors.begin() + k * n, f.posteriors.begin() + (k + 1) * n);
      }
      EXPECT_EQ(labels, fit_alone.labels) << "setting " << &s - settings;
      std::vector<double> all;
      for (const std::vector<double> &p : posteriors) all.insert(all.end(), p.begin(), p.end());
      EXPECT_TRUE(same_bits(all, fit_alone.posteriors)) << "setting " << &s - settings;
    }
  }
}

TEST(Processes, AFailureOnOneProcessIsEveryProcesssFailure) {
  std::vector<double> values = four_groups();
  values[5 * 300 + 2] = std::nan("");  // row 301, in the last share
  mogem::options o;
  o.classes = 3;
  o.max_iterations = 3;
  std::string alone;
  try {
    mogem::fit({values.data(), values.size() / 5, 5}, o);
  } catch (const mogem::error &e) {
    alone = e.what();
  }
  ASSERT_NE(alone.find("row 301, column 3"), std::string::npos) << alone;
  for (const outcome &process : fit_over(values, 5, {0, 100, 250}, o)) EXPECT_EQ(process.failure, alone);
}

// The chosen candidate has the lowest criterion, and its model is the candidate's own fit. A
// selection over processes runs its candidates one after another over all of them: the table
// and the chosen model are those of one process, whose candidates ran side by side.
TEST(Processes, ASelectionChoosesTheLowestCriterionAsOneProcessDoes) {
  const std::vector<double> values = four_groups();
  const std::size_t cols = 5, rows = values.size() / cols;
  mogem::options o;
  o.max_iterations = 10;
  o.threads = 2;
  mogem::selection_settings choice;
  choice.max_classes = 3;
  choice.kinds = {mogem::covariance_kind::scalar, mogem::covariance_kind::full};
  const mogem::selection alone = mogem::select_model({values.data(), rows, cols}, o, choice);
  ASSERT_EQ(alone.candidates.size(), 6u);
  for (std::size_t c = 0; c < 6; c++) {
    EXPECT_EQ(alone.candidates[c].classes, static_cast<int>(c % 3) + 1);
    EXPECT_LE(alone.candidates[alone.chosen].statistics.bic, alone.candidates[c].statistics.bic);
  }
  mogem::options chosen = o;
  chosen.classes = alone.candidates[alone.chosen].classes;
  chosen.covariance = alone.candidates[alone.chosen].covariance;
  EXPECT_TRUE(same_model(mogem::fit({values.data(), rows, cols}, chosen), alone.best));
  const std::vector<std::size_t> starts = {0, 7, 200};
  std::vector<mogem::selection> shared(starts.size());
  run_as_processes(3, [&](const mogem::process_group &group) {
    const std::size_t first = starts[group.rank], last = group.rank + 1 < 3 ? starts[group.rank + 1] : rows;
    mogem::callbacks hooks;
    hooks.processes = &group;
    shared[group.rank] = mogem::select_model({values.data() + first * cols, last - first, cols}, o, choice, hooks);
  });
  for (const mogem::selection &s : shared) {
    ASSERT_EQ(s.candidates.size(), alone.candidates.size());
    for (std::size_t c = 0; c < s.candidates.size(); c++)
      EXPECT_EQ(std::memcmp(&s.candidates[c].statistics.bic, &alone.candidates[c].statistics.bic, sizeof(double)), 0);
    EXPECT_EQ(s.chosen, alone.chosen);
    EXPECT_TRUE(same_bits(s.best.model.means, alone.best.model.means) &&
                same_bits(s.best.model.covariances, alone.best.model.covariances));
  }
  choice.min_classes = 3;
  choice.max_classes = 2;
  EXPECT_THROW(mogem::select_model({values.data(), rows, cols}, o, choice), mogem::error);
}
