#include <gtest/gtest.h>

#include <string>

#include "mogem/mogem.h"
#include "support/run_binary.h"

TEST(FileNames, OnlyTheLastComponentsDotCutsTheExtension) {
  const char *const cases[][3] = {
      {"labels.txt", ".means", "labels.means"},        {"labels", ".means", "labels.means"},
      {"a.b.c", ".means", "a.b.means"},                {"dir/.hidden", ".means", "dir/.means"},
      {"run.1/labels", ".means", "run.1/labels.means"}, {"./labels", ".means", "./labels.means"},
      {"../x.y/out.txt", "00012.labels", "../x.y/out00012.labels"}, {"", ".probs", ".probs"},
  };
  for (const auto &c : cases) EXPECT_EQ(mogem::result_file_name(c[0], c[1]), c[2]);
}

// The model files print each number rounded to single precision first; the labels count from 1.
TEST(ModelFiles, NumbersAreRoundedToSinglePrecisionFirst) {
  scratch_dir dir;
  mogem::model m;
  m.covariance = mogem::covariance_kind::diagonal;
  m.classes = 2;
  m.features = 2;
  m.means = {1234.5678901, 123456789.0, 0.0000004, -0.5};
  m.covariances = {1.1, 1.1, 0.2, 0.2};
  m.weights = {1.0 / 6, 5.0 / 6};
  m.posteriors = {1.0 / 3, 1, 2.0 / 3, 0};  // class first
  m.labels = {1, 0};
  mogem::write_means(dir.path("out.means"), m);
  mogem::write_variances(dir.path("out.variances"), m);
  mogem::write_weights(dir.path("out.weights"), m);
  mogem::write_posteriors(dir.path("out.probs"), m);
  mogem::write_labels(dir.path("out.txt"), m);
  EXPECT_EQ(dir.read("out.means"), "1234.567871\t123456792.000000\n0.000000\t-0.500000\n");
  EXPECT_EQ(dir.read("out.variances"), "1.100000\t1.100000\n0.200000\t0.200000\n");
  EXPECT_EQ(dir.read("out.weights"), "0.166667\n0.833333\n");
  EXPECT_EQ(dir.read("out.probs"), "0.333333\t0.666667\n1.000000\t0.000000\n");  // one line per point
  EXPECT_EQ(dir.read("out.txt"), "2\n1\n");
}

TEST(ModelFiles, FailuresNameTheFileAndTheReason) {
  scratch_dir dir;
  dir.make_dir("out.means");
  mogem::model m;
  m.classes = 1;
  m.features = 1;
  m.means = {1.0};
  m.labels = {0};
  try {
    mogem::write_means(dir.path("out.means"), m);
    FAIL() << "a directory was written as a file";
  } catch (const mogem::error &e) {
    EXPECT_EQ(e.what_kind(), mogem::error::kind::write_failure);
    EXPECT_EQ(std::string(e.what()), "Error: could not write the file " + dir.path("out.means") + ": Is a directory");
  }
  try {
    mogem::write_labels(dir.path("none/out.txt"), m);
    FAIL() << "a file was written into a missing directory";
  } catch (const mogem::error &e) {
    EXPECT_EQ(std::string(e.what()),
              "Error: Could not open results filename [" + dir.path("none/out.txt") + "] for writing.\nAborting...");
  }
}
