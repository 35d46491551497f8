// tools/mogem-plot on the shipped example, a saved model and a selection table: each draws a
// complete PNG of the stated size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/run_binary.h"

namespace {

unsigned big_endian(const std::string &bytes, std::size_t at) {
  unsigned value = 0;
  for (std::size_t b = at; b < at + 4; b++) value = value << 8 | static_cast<unsigned char>(bytes[b]);
  return value;
}

// Runs mogem-plot, then reads the picture: a PNG starts with its signature and the IHDR chunk
// (width, height) and ends with IEND.
std::string drawn(const scratch_dir &dir, const std::vector<std::string> &args, const std::string &png,
                  unsigned width = 700, unsigned height = 550) {
  const run_result r = run_executable(dir, std::string(MOGEM_SOURCE_DIR) + "/tools/mogem-plot", args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const std::string bytes = dir.exists(png) ? dir.read(png) : "";
  EXPECT_GT(bytes.size(), 1000u) << png;
  if (bytes.size() <= 1000) return bytes;
  EXPECT_EQ(bytes.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
  EXPECT_EQ(big_endian(bytes, 16), width);
  EXPECT_EQ(big_endian(bytes, 20), height);
  EXPECT_EQ(bytes.substr(bytes.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
  return bytes;
}

}  // namespace

// The example with four features (principal components, the model files' means) and two
// chosen ones (means from the labels); a saved model's full covariances as ellipses, so that
// the same model without its correlations draws another picture, and a tied one's shared matrix; a selection table with a
// failed candidate among the others.
TEST(MogemPlot, DrawsTheExampleASavedModelAndASelectionTable) {
  if (std::system("/usr/bin/python3 -c 'import matplotlib, numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "matplotlib is not installed for /usr/bin/python3";
  scratch_dir dir;
  dir.write("iris.txt", source_file("examples/iris.txt"));
  ASSERT_EQ(run_mogem(dir, {"iris.txt", "iris.labels"}).exit_code, 0);
  drawn(dir, {"iris.txt", "iris.labels"}, "iris.png");
  for (const char *name : {"iris.means", "iris.variances"}) std::remove(dir.path(name).c_str());
  drawn(dir, {"--features", "3,4", "-o", "petals.png", "iris.txt", "iris.labels"}, "petals.png");

  dir.write("two.txt", "rows 4 cols 2 num_clusters 2 begin data\n0 0\n1 1\n5 5\n6 6\n");
  dir.write("two.labels", "1\n1\n2\n2\n");
  const std::string head = R"({"format": "mogem model", "version": 1, "covariance": "full", "classes": 2,
    "features": 2, "centre": null, "unit_length": false, "weights": [0.5, 0.5],
    "means": [[0.5, 0.5], [5.5, 5.5]], "covariances": )";
  dir.write("correlated.json", head + "[[[1, 0.9], [0.9, 1]], [[1, -0.9], [-0.9, 1]]]}");
  dir.write("uncorrelated.json", head + "[[[1, 0], [0, 1]], [[1, 0], [0, 1]]]}");
  EXPECT_NE(drawn(dir, {"--model", "correlated.json", "-o", "c.png", "two.txt", "two.labels"}, "c.png"),
            drawn(dir, {"--model", "uncorrelated.json", "-o", "u.png", "two.txt", "two.labels"}, "u.png"));
  // A tied model's one matrix is drawn around every mean: the picture of a full model whose
  // classes both hold it.
  dir.write("m.json", head + "[[[1, 0.9], [0.9, 1]], [[1, 0.9], [0.9, 1]]]}");
  const std::string full = drawn(dir, {"--model", "m.json", "-o", "m.png", "two.txt", "two.labels"}, "m.png");
  std::string tied = head + "[[1, 0.9], [0.9, 1]]}";
  tied.replace(tied.find("\"full\""), 6, "\"tied\"");
  dir.write("m.json", tied);
  EXPECT_EQ(drawn(dir, {"--model", "m.json", "-o", "m.png", "two.txt", "two.labels"}, "m.png"), full);

  dir.write("run.selection.tsv",
            "classes\tcovariance\tparameters\tlog_likelihood\tbic\taic\ticl\tem_steps\tconverged\tstatus\n"
            "1\tdiagonal\t4\t-20.5\t46.5\t49\t46.5\t1\t1\tok\n"
            "2\tdiagonal\t9\t-8.25\t29\t34.5\t29.5\t6\t1\tok\n"
            "1\tfull\t5\t-19\t44.9\t48\t44.9\t1\t1\tok\n"
            "2\tfull\tNA\tNA\tNA\tNA\tNA\tNA\t0\tfailed: the covariance of class 2 is singular\n");
  drawn(dir, {"--selection", "run.selection.tsv"}, "run.selection.png", 860, 409);  // a panel per kind

  // What it cannot draw is refused, and no picture is left.
  dir.write("short.labels", "1\n2\n");
  dir.write("three.json", head + "[[[1, 0, 0], [0, 1, 0], [0, 0, 1]], [[1, 0, 0], [0, 1, 0], [0, 0, 1]]]}");
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"-o", "x.png", "iris.txt", "short.labels"}, "short.labels has 2 labels for 150 rows"},
      {{"-o", "x.png", "--features", "1,5", "iris.txt", "iris.labels"},
       "--features needs two features, names or numbers from 1 to 4, such as 1,2"},
      {{"-o", "x.png", "--model", "three.json", "two.txt", "two.labels"},
       "three.json: its sizes do not agree with its 2 classes of 2 features"},
      {{"-o", "x.png", "--selection", "two.labels"},
       "two.labels is not a selection table: its first line lacks classes, covariance, parameters, "
       "log_likelihood, bic, aic, icl"},
  };
  for (const auto &[args, message] : refusals) {
    const run_result r = run_executable(dir, std::string(MOGEM_SOURCE_DIR) + "/tools/mogem-plot", args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "mogem-plot: " + message + "\n");
    EXPECT_FALSE(dir.exists("x.png")) << message;
  }
}
