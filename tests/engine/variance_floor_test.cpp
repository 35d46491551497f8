// The variance floor as a user meets it: iris measured in metres (every value divided by 100)
// has variances far below the default floor.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "support/run_binary.h"

namespace {

// The iris example with every data value divided by 100, and the extra keys before "begin".
std::string iris_in_metres(const std::string &keys) {
  const std::string iris = source_file("examples/iris.txt");
  const std::size_t begin = iris.find("begin data\n");
  std::istringstream values(iris.substr(begin + 11));
  std::string text = iris.substr(0, begin) + keys + "begin data\n";
  char number[64];
  for (double v; values >> v;) {
    std::snprintf(number, sizeof number, "%.17g ", v / 100.0);
    text += number;
  }
  return text;
}

}  // namespace

TEST(VarianceFloor, TheDefaultHoldsSmallVariancesAndZeroLetsThemBe) {
  scratch_dir held, free;
  ASSERT_TRUE(runs_cleanly(held, "out", iris_in_metres("")));
  ASSERT_TRUE(runs_cleanly(free, "out", iris_in_metres("variance_floor 0\n")));
  // The default floor 0.001 holds every variance and the classes collapse into one.
  for (double v : numbers_in<double>(held.read("out.variances"))) EXPECT_EQ(v, 0.001);
  const std::vector<double> held_labels = numbers_in<double>(held.read("out.labels"));
  EXPECT_EQ(std::set<double>(held_labels.begin(), held_labels.end()).size(), 1u);
  // Without it the variances are those of the data and the three species separate.
  const std::vector<double> variances = numbers_in<double>(free.read("out.variances"));
  ASSERT_EQ(variances.size(), 12u);
  for (double v : variances) {
    EXPECT_GT(v, 0.0);
    EXPECT_LT(v, 0.001);
  }
  const std::vector<double> labels = numbers_in<double>(free.read("out.labels"));
  EXPECT_EQ(std::set<double>(labels.begin(), labels.end()).size(), 3u);
}
