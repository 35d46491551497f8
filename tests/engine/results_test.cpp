#include "engine/em_fe_results.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/em_fe_memory.h"
#include "engine/em_fe_params.h"
#include "support/capture.h"
#include "support/run_binary.h"

namespace {

std::string filename(const char *base, const char *ext) {
  char *name = create_filename(base, ext);
  std::string result = name;
  std::free(name);
  return result;
}

// A hand-filled model of K = 3 classes, F = 2 features and N = 5 points.
class ModelFiles : public testing::Test {
 protected:
  void SetUp() override {
    set_default_parameters(&p);
    p.num_data = 5;
    p.num_features = 2;
    p.num_classes = 3;
    p.output_model = 1;
    labels = dir.path("out.txt");
    p.output_filename = labels.c_str();
  }
  void TearDown() override {
    if (m) {
      deallocate_em_memory(m);
      delete m;
    }
  }
  void fill(int em_type) {
    p.em_type = em_type;
    m = allocate_em_memory(&p);
    for (int k = 1; k <= 3; k++) {
      m->P_j[k] = k / 6.0;
      for (int j = 1; j <= 2; j++) m->class_means[k][j] = 10 * k + j;
      for (int i = 1; i <= 5; i++) m->P_j_x[k][i] = (k == 1 + i % 3) ? 1.0 : 0.0;
    }
    for (int i = 1; i <= 5; i++) m->classifications[i] = 1 + i % 3;
  }
  scratch_dir dir;
  std::string labels;
  em_parameters p;
  em_memory *m = nullptr;
};

}  // namespace

TEST(FileNames, OnlyTheLastComponentsDotCutsTheExtension) {
  EXPECT_EQ(filename("labels.txt", ".means"), "labels.means");
  EXPECT_EQ(filename("labels", ".means"), "labels.means");
  EXPECT_EQ(filename("a.b.c", ".means"), "a.b.means");
  EXPECT_EQ(filename("dir/.hidden", ".means"), "dir/.means");
  EXPECT_EQ(filename("run.1/labels", ".means"), "run.1/labels.means");
  EXPECT_EQ(filename("./labels", ".means"), "./labels.means");
  EXPECT_EQ(filename("../x.y/out.txt", "00012.labels"), "../x.y/out00012.labels");
  EXPECT_EQ(filename("", ".probs"), ".probs");
}

TEST_F(ModelFiles, NumbersAreRoundedToSinglePrecisionFirst) {
  fill(DIAG);
  m->class_means[1][1] = 1234.5678901;
  m->class_means[1][2] = 123456789.0;
  m->class_means[2][1] = 0.0000004;
  m->class_means[2][2] = -0.5;
  for (int k = 1; k <= 3; k++)
    for (int j = 1; j <= 2; j++) m->class_variances.diagonal[k][j] = k + j / 10.0;
  EXPECT_EQ(capture([&] { report_results(m); }).err, "");
  EXPECT_EQ(dir.read("out.means"), "1234.567871\t123456792.000000\n0.000000\t-0.500000\n31.000000\t32.000000\n");
  EXPECT_EQ(dir.read("out.variances"), "1.100000\t1.200000\n2.100000\t2.200000\n3.100000\t3.200000\n");
  EXPECT_EQ(dir.read("out.weights"), "0.166667\n0.333333\n0.500000\n");
  // One line per point, one column per class.
  EXPECT_EQ(dir.read("out.probs"),
            "0.000000\t1.000000\t0.000000\n0.000000\t0.000000\t1.000000\n1.000000\t0.000000\t0.000000\n"
            "0.000000\t1.000000\t0.000000\n0.000000\t0.000000\t1.000000\n");
  EXPECT_EQ(dir.read("out.txt"), "2\n3\n1\n2\n3\n");
  EXPECT_EQ(m->output_errors, 0);
}

TEST_F(ModelFiles, VariancesOfEveryKindBecomeOnePerFeature) {
  fill(SCALAR);
  for (int k = 1; k <= 3; k++) m->class_variances.scalar[k] = 0.25 * k;
  report_results(m);
  EXPECT_EQ(dir.read("out.variances"), "0.250000\t0.250000\n0.500000\t0.500000\n0.750000\t0.750000\n");
  deallocate_em_memory(m);
  delete m;

  fill(FULL);
  for (int k = 1; k <= 3; k++)
    for (int r = 1; r <= 2; r++)
      for (int s = 1; s <= 2; s++) m->class_variances.full[k][r][s] = r == s ? k + r : -9.0;
  report_results(m);
  EXPECT_EQ(dir.read("out.variances"), "2.000000\t3.000000\n3.000000\t4.000000\n4.000000\t5.000000\n");
}

TEST_F(ModelFiles, OnlyLabelsWithoutOutputModel) {
  p.output_model = 0;
  fill(DIAG);
  report_results(m);
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out.txt"});
}

TEST_F(ModelFiles, LoweredClassCountShapesEveryFile) {
  fill(DIAG);
  for (int k = 1; k <= 3; k++)
    for (int j = 1; j <= 2; j++) m->class_variances.diagonal[k][j] = 1.0;
  m->classes = 2;
  report_results(m);
  EXPECT_EQ(dir.read("out.weights"), "0.166667\n0.333333\n");
  EXPECT_EQ(dir.read("out.means"), "11.000000\t12.000000\n21.000000\t22.000000\n");
  EXPECT_EQ(dir.read("out.probs").substr(0, 18), "0.000000\t1.000000\n");
}

TEST_F(ModelFiles, UnopenableLabelsFileIsAFailure) {
  labels = dir.path("missing/out.txt");
  p.output_filename = labels.c_str();
  fill(DIAG);
  const std::string why = ": No such file or directory\n";
  const std::string base = dir.path("missing/out");
  std::string err = capture([&] { report_results(m); }).err;
  EXPECT_EQ(err, "Error: could not write the file " + base + ".means" + why + "Error: could not write the file " +
                     base + ".variances" + why + "Error: could not write the file " + base + ".weights" + why +
                     "Error: could not write the file " + base + ".probs" + why +
                     "Error: Could not open results filename [" + labels + "] for writing.\nAborting...\n");
  EXPECT_EQ(m->output_errors, 5);
}

TEST_F(ModelFiles, UnwritableModelFileLeavesTheOthers) {
  dir.make_dir("out.weights");  // a directory where the file should go
  fill(DIAG);
  for (int k = 1; k <= 3; k++)
    for (int j = 1; j <= 2; j++) m->class_variances.diagonal[k][j] = 1.0;
  std::string err = capture([&] { report_results(m); }).err;
  EXPECT_EQ(err, "Error: could not write the file " + dir.path("out.weights") + ": Is a directory\n");
  EXPECT_EQ(m->output_errors, 1);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"out.means", "out.probs", "out.txt", "out.variances"}));
}

TEST_F(ModelFiles, FullDiskIsDetected) {
  labels = "/dev/full";
  p.output_filename = labels.c_str();
  p.output_model = 0;
  fill(DIAG);
  std::string err = capture([&] { report_results(m); }).err;
  EXPECT_EQ(err, "Error: could not write the file /dev/full: No space left on device\n");
  EXPECT_EQ(m->output_errors, 1);
}
