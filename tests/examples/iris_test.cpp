// The shipped example, run as the README runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "support/run_binary.h"


namespace {

std::vector<int> numbers(const std::string &text) {
  std::istringstream in(text);
  std::vector<int> values;
  for (int v; in >> v;) values.push_back(v);
  return values;
}

}  // namespace

TEST(Example, IrisIsClusteredIntoItsSpecies) {
  scratch_dir dir;
  dir.write("iris.txt", source_file("examples/iris.txt"));
  run_result r = run_mogem(dir, {"iris.txt", "iris.labels"});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::vector<int> labels = numbers(dir.read("iris.labels"));
  const std::vector<int> species = numbers(source_file("examples/iris.classes"));
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
