// The shipped example, run as the README runs it.
#include <gtest/gtest.h>

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
  std::map<int, int> label_of;
  int agreeing = 0;
  for (auto &[kind, by_label] : counts) {
    auto best = by_label.begin();
    for (auto it = by_label.begin(); it != by_label.end(); ++it)
      if (it->second > best->second) best = it;
    label_of[kind] = best->first;
    agreeing += best->second;
  }
  EXPECT_EQ(counts[1][label_of[1]], 50);  // setosa stands apart
  EXPECT_NE(label_of[2], label_of[3]);
  EXPECT_NE(label_of[1], label_of[2]);
  EXPECT_GE(agreeing, 135);
  for (const char *model_file : {"iris.means", "iris.variances", "iris.weights", "iris.probs"})
    EXPECT_TRUE(dir.exists(model_file)) << model_file;
}
