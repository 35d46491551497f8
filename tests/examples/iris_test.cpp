// The shipped example, run as the README runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "support/run_binary.h"

TEST(Example, IrisIsClusteredIntoItsSpecies) {
  scratch_dir dir;
  ASSERT_TRUE(runs_cleanly(dir, "iris", source_file("examples/iris.txt")));
  const std::vector<int> labels = numbers_in<int>(dir.read("iris.labels"));
  const std::vector<int> species = numbers_in<int>(source_file("examples/iris.classes"));
  ASSERT_EQ(labels.size(), 150u);
  ASSERT_EQ(species.size(), 150u);
  // Each species' most common label, and how many rows carry it.
  std::map<int, std::map<int, int>> counts;
  for (std::size_t i = 0; i < 150; i++) counts[species[i]][labels[i]]++;
  std::map<int, std::pair<int, int>> best;  // species: (rows, label)
  for (auto &[kind, by_label] : counts)
    for (auto &[label, rows] : by_label) best[kind] = std::max(best[kind], {rows, label});
  EXPECT_EQ(best[1].first, 50);  // setosa stands apart
  EXPECT_NE(best[1].second, best[2].second);
  EXPECT_NE(best[2].second, best[3].second);
  EXPECT_GE(best[1].first + best[2].first + best[3].first, 135);
  for (const char *model_file : {"iris.means", "iris.variances", "iris.weights", "iris.probs"})
    EXPECT_TRUE(dir.exists(model_file)) << model_file;
}

// The wine measurements (13 features) with full covariances from church means: a covariance
// becomes singular and the run fails with the factorisation's message, until reg_covar keeps
// every covariance invertible.
TEST(Example, WineFullCovariancesFitWithRegularisation) {
  const std::string example = source_file("examples/wine_select.txt");
  const std::string data = example.substr(example.find("begin data"));
  scratch_dir dir;
  const std::string keys = "rows 178\ncols 13\nnum_clusters 3\nem_type full\nmax_em_iterations 100\n";
  dir.write("wine.txt", keys + data);
  run_result bare = run_mogem(dir, {"wine.txt", "wine.labels"});
  EXPECT_EQ(bare.exit_code, 1);
  EXPECT_EQ(bare.err, "Numerical Recipes run-time error...\nNR_dcholdc failed\n...now exiting to system...\n");
  ASSERT_TRUE(runs_cleanly(dir, "wine_reg", keys + "reg_covar 1e-6\noutput_summary 1\n" + data));
  EXPECT_NE(dir.read("wine_reg.summary.json").find("\"stop\": \"converged\""), std::string::npos);
  EXPECT_EQ(numbers_in<int>(dir.read("wine_reg.labels")).size(), 178u);
}
