// tools/mogem-plot on the shipped example, a saved model and a selection table: it must write a
// complete PNG of the stated size, and refuse what it cannot draw.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/run_binary.h"


namespace {

const std::string plot_script = std::string(MOGEM_SOURCE_DIR) + "/tools/mogem-plot";

bool matplotlib_available() {
  return std::system("/usr/bin/python3 -c 'import matplotlib, numpy' >/dev/null 2>&1") == 0;
}

unsigned big_endian(const std::string &bytes, std::size_t at) {
  unsigned value = 0;
  for (std::size_t b = at; b < at + 4; b++) value = value << 8 | static_cast<unsigned char>(bytes[b]);
  return value;
}

// A PNG starts with its signature and the IHDR chunk (width, height) and ends with IEND.
void expect_png(const std::string &png, unsigned width, unsigned height) {
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(big_endian(png, 16), width);
  EXPECT_EQ(big_endian(png, 20), height);
  EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
}

}  // namespace

TEST(MogemPlot, DrawsTheExampleAndRefusesWhatItCannotDraw) {
  if (!matplotlib_available()) GTEST_SKIP() << "matplotlib is not installed for /usr/bin/python3";
  scratch_dir dir;
  dir.write("iris.txt", source_file("examples/iris.txt"));
  ASSERT_EQ(run_mogem(dir, {"iris.txt", "iris.labels"}).exit_code, 0);

  // Four features: the principal components by default, with the model files' means.
  run_result r = run_executable(dir, plot_script, {"iris.txt", "iris.labels"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  expect_png(dir.read("iris.png"), 700, 550);

  // Two chosen features, the means worked out from the labels when no model files exist.
  for (const char *name : {"iris.means", "iris.variances"}) std::remove(dir.path(name).c_str());
  r = run_executable(dir, plot_script, {"--features", "3,4", "-o", "petals.png", "iris.txt", "iris.labels"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  expect_png(dir.read("petals.png"), 700, 550);

  // What it cannot draw is refused, and no picture is left.
  std::remove(dir.path("iris.png").c_str());
  dir.write("short.labels", "1\n2\n");
  r = run_executable(dir, plot_script, {"iris.txt", "short.labels"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-plot: short.labels has 2 labels for 150 rows\n");
  r = run_executable(dir, plot_script, {"--features", "1,5", "iris.txt", "iris.labels"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-plot: --features needs two feature numbers from 1 to 4, such as 1,2\n");
  EXPECT_FALSE(dir.exists("iris.png"));
}

// A saved model's full covariances give the ellipses: the same model with its correlations
// removed must draw another picture. A selection table is drawn with a failed candidate among
// the others; files that are not what they claim are refused.
TEST(MogemPlot, DrawsASavedModelAndASelectionTable) {
  if (!matplotlib_available()) GTEST_SKIP() << "matplotlib is not installed for /usr/bin/python3";
  scratch_dir dir;
  dir.write("two.txt", "rows 4 cols 2 num_clusters 2 begin data\n0 0\n1 1\n5 5\n6 6\n");
  dir.write("two.labels", "1\n1\n2\n2\n");
  const std::string head = R"({"format": "mogem model", "version": 1, "covariance": "full", "classes": 2,
    "features": 2, "centre": null, "unit_length": false, "weights": [0.5, 0.5],
    "means": [[0.5, 0.5], [5.5, 5.5]], "covariances": )";
  dir.write("correlated.json", head + "[[[1, 0.9], [0.9, 1]], [[1, -0.9], [-0.9, 1]]]}");
  dir.write("uncorrelated.json", head + "[[[1, 0], [0, 1]], [[1, 0], [0, 1]]]}");
  for (const char *name : {"correlated", "uncorrelated"}) {
    run_result r = run_executable(dir, plot_script, {"--model", std::string(name) + ".json", "-o",
                                                     std::string(name) + ".png", "two.txt", "two.labels"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    expect_png(dir.read(std::string(name) + ".png"), 700, 550);
  }
  EXPECT_NE(dir.read("correlated.png"), dir.read("uncorrelated.png"));

  dir.write("three.json", head + "[[[1, 0, 0], [0, 1, 0], [0, 0, 1]], [[1, 0, 0], [0, 1, 0], [0, 0, 1]]]}");
  run_result r = run_executable(dir, plot_script, {"--model", "three.json", "two.txt", "two.labels"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-plot: three.json does not match the data's 2 features\n");

  dir.write("run.selection.tsv",
            "classes\tcovariance\tparameters\tlog_likelihood\tbic\taic\ticl\tem_steps\tconverged\tstatus\n"
            "1\tdiagonal\t4\t-20.5\t46.5\t49\t46.5\t1\t1\tok\n"
            "2\tdiagonal\t9\t-8.25\t29\t34.5\t29.5\t6\t1\tok\n"
            "1\tfull\t5\t-19\t44.9\t48\t44.9\t1\t1\tok\n"
            "2\tfull\tNA\tNA\tNA\tNA\tNA\tNA\t0\tfailed: the covariance of class 2 is singular\n");
  r = run_executable(dir, plot_script, {"--selection", "run.selection.tsv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  expect_png(dir.read("run.selection.png"), 700, 550);
  r = run_executable(dir, plot_script, {"--selection", "two.labels"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-plot: two.labels is not a selection table: its first line lacks classes, covariance, "
                   "parameters, log_likelihood, bic, aic, icl\n");
}
