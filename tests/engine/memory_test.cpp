#include "engine/em_fe_memory.h"

#include <gtest/gtest.h>

#include "engine/em_fe.h"
#include "engine/em_fe_params.h"
#include "support/capture.h"

namespace {

em_parameters counts(int N, int F, int K, int em_type) {
  em_parameters p;
  set_default_parameters(&p);
  p.num_data = N;
  p.num_features = F;
  p.num_classes = K;
  p.em_type = em_type;
  return p;
}

}  // namespace

TEST(ModelState, ShapesFollowTheCovarianceKind) {
  em_parameters p = counts(1000, 4, 3, SCALAR);
  em_memory *m = allocate_em_memory(&p);
  EXPECT_EQ(m->params, &p);
  EXPECT_EQ(m->datapoints, 1000);
  EXPECT_EQ(m->features, 4);
  EXPECT_EQ(m->classes, 3);
  EXPECT_EQ(m->update_P_j, nullptr);  // chosen by the EM loop, not here
  EXPECT_EQ(m->output_errors, 0);
  // Posteriors are class first: 3 rows of 1000 points.
  EXPECT_EQ(&m->P_j_x[2][1], &m->P_j_x[1][1000] + 1);
  EXPECT_EQ(&m->data[2][1], &m->data[1][4] + 1);
  m->class_variances.scalar[3] = 1.0;
  m->inv_covariance.scalar[3] = 1.0;
  deallocate_em_memory(m);
  delete m;

  p = counts(10, 4, 3, DIAG);
  m = allocate_em_memory(&p);
  EXPECT_EQ(&m->class_variances.diagonal[3][4], &m->class_variances.diagonal[1][1] + 11);
  EXPECT_EQ(&m->inv_covariance.diagonal[3][4], &m->inv_covariance.diagonal[1][1] + 11);
  deallocate_em_memory(m);
  delete m;

  p = counts(10, 4, 3, FULL);
  m = allocate_em_memory(&p);
  EXPECT_EQ(&m->class_variances.full[2][1][1], &m->class_variances.full[1][4][4] + 1);
  EXPECT_EQ(&m->inv_covariance.full[3][4][4], &m->inv_covariance.full[1][1][1] + 47);
  deallocate_em_memory(m);
  delete m;
}

// More classes than points: only the model state's count moves, the containers keep the
// configured size (and are released with it).
TEST(ModelState, LoweredClassCountKeepsTheContainers) {
  em_parameters p = counts(3, 1, 5, DIAG);
  em_memory *m = allocate_em_memory(&p);
  for (int i = 1; i <= 3; i++) m->data[i][1] = i;
  call_outcome outcome = capture([&] { run(m); });
  EXPECT_EQ(outcome.err, "WARNING: Number of classes exceeds datapoints. Adjusting\n");
  EXPECT_EQ(m->classes, 3);
  EXPECT_EQ(p.num_classes, 5);
  m->P_j[5] = 0.0;  // still inside the container
  deallocate_em_memory(m);
  delete m;

  p = counts(3, 1, 3, DIAG);
  m = allocate_em_memory(&p);
  for (int i = 1; i <= 3; i++) m->data[i][1] = i;
  EXPECT_EQ(capture([&] { run(m); }).err, "");  // equal counts: no warning
  deallocate_em_memory(m);
  delete m;
}

TEST(ModelState, RunTurnsTheSeedIntoTheGeneratorState) {
  for (int32_t configured : {42, -42}) {
    em_parameters p = counts(2, 1, 1, SCALAR);
    p.random_seed = configured;
    em_memory *m = allocate_em_memory(&p);
    m->data[1][1] = 0;
    m->data[2][1] = 1;
    run(m);
    EXPECT_EQ(p.random_seed, 806666144) << "seed " << configured;
    deallocate_em_memory(m);
    delete m;
  }
}
