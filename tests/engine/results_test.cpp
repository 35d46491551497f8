#include "io/result_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/capture.h"
#include "support/run_binary.h"
#include "support/test_model.h"

using namespace mogem::detail;

TEST(FileNames, OnlyTheLastComponentsDotCutsTheExtension) {
  const char *const cases[][3] = {
      {"labels.txt", ".means", "labels.means"},        {"labels", ".means", "labels.means"},
      {"a.b.c", ".means", "a.b.means"},                {"dir/.hidden", ".means", "dir/.means"},
      {"run.1/labels", ".means", "run.1/labels.means"}, {"./labels", ".means", "./labels.means"},
      {"../x.y/out.txt", "00012.labels", "../x.y/out00012.labels"}, {"", ".probs", ".probs"},
  };
  for (const auto &c : cases) {
    char *name = create_filename(c[0], c[1]);
    EXPECT_EQ(std::string(name), c[2]);
    std::free(name);
  }
}

// The model files print each number rounded to single precision first.
TEST(ModelFiles, NumbersAreRoundedToSinglePrecisionFirst) {
  scratch_dir dir;
  test_model t({{0, 0}, {0, 0}}, 2, DIAG);
  const std::string labels = dir.path("out.txt");
  t.params().output_filename = labels.c_str();
  t.params().output_model = 1;
  t.set_mean(1, {1234.5678901, 123456789.0});
  t.set_mean(2, {0.0000004, -0.5});
  t.set_spherical(1, 1.1);
  t.set_spherical(2, 0.2);
  t.set_posteriors(1, {1.0 / 3, 1});
  t.set_posteriors(2, {2.0 / 3, 0});
  t->P_j[1] = 1.0 / 6;
  t->P_j[2] = 5.0 / 6;
  t->classifications[1] = 2;
  t->classifications[2] = 1;
  EXPECT_EQ(capture([&] { report_results(t.get()); }).err, "");
  EXPECT_EQ(dir.read("out.means"), "1234.567871\t123456792.000000\n0.000000\t-0.500000\n");
  EXPECT_EQ(dir.read("out.variances"), "1.100000\t1.100000\n0.200000\t0.200000\n");
  EXPECT_EQ(dir.read("out.weights"), "0.166667\n0.833333\n");
  EXPECT_EQ(dir.read("out.probs"), "0.333333\t0.666667\n1.000000\t0.000000\n");  // one line per point
  EXPECT_EQ(dir.read("out.txt"), "2\n1\n");
  EXPECT_EQ(t->output_errors, 0);
}
