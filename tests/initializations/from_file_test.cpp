// The file initialization: means read class by class, in single precision.
#include <gtest/gtest.h>

#include "initializations/init_means.h"
#include "support/capture.h"
#include "support/one_based.h"
#include "support/run_binary.h"

using namespace mogem::detail;

TEST(FromFile, ReadsClassByClassInSinglePrecision) {
  scratch_dir dir;
  dir.write("start.txt", "1.1 2.2\n\n3.5\n-4 99 98\n");  // line breaks carry no meaning
  one_based_matrix means(2, 2, -12345.0);
  std::string name = dir.path("start.txt");
  call_outcome out = capture([&] { init_means(nullptr, means.get(), 0, 2, 2, FROM_FILE, 0, 0, name.c_str()); });
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.exit_code, call_outcome::no_exit);
  EXPECT_EQ(means.row(1), (std::vector<double>{1.100000023841858, 2.2f}));
  EXPECT_EQ(means.row(2), (std::vector<double>{3.5, -4}));
}

