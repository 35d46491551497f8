// The model state over a caller's rows, and what a run leaves of the parameter record.
#include "engine/model_state.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/parameters.h"
#include "engine/run.h"

using namespace mogem::detail;

TEST(ModelState, RunsInPlaceOnTheCallersRowsAndOneParameterRecordServesTwoRuns) {
  const int N = 12, F = 2, K = 3;
  std::vector<double> given(N * F);
  for (int i = 0; i < N * F; i++) given[i] = (i * 37) % 11 + 0.5 * (i % 3);
  mogem::options o;
  o.classes = K;
  o.init = mogem::initialization::random_point;
  o.center = true;
  o.max_iterations = 0;  // the model is the random start itself
  em_parameters p = parameters_of(o, N, F);
  std::vector<double> rows[2] = {given, given};
  std::unique_ptr<em_memory> m[2];
  for (int r = 0; r < 2; r++) {
    m[r].reset(allocate_em_memory(&p, rows[r].data()));
    run(m[r].get());
  }
  // The caller's rows were centred where they lie.
  double mean = 0.0;
  for (int i = 0; i < N; i++) mean += given[i * F];
  EXPECT_EQ(rows[0][0], given[0] - m[0]->centre[1]);
  EXPECT_NEAR(m[0]->centre[1], mean / N, 1e-15);
  // The second run seeds from the same configured seed: the same random start, bit for bit.
  for (int k = 1; k <= K; k++)
    for (int j = 1; j <= F; j++) EXPECT_EQ(m[1]->class_means[k][j], m[0]->class_means[k][j]);
  const std::vector<double> posteriors = take_posteriors(m[0].get());
  ASSERT_EQ(posteriors.size(), static_cast<std::size_t>(K * N));
  EXPECT_EQ(posteriors[N + 1], m[1]->P_j_x[2][2]);  // class first
}
