// Fits that break down are refused, not reported as a success with every row in class 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/run_binary.h"

namespace {

std::string refusal(const std::vector<double> &values, std::size_t cols, const mogem::options &o,
                    mogem::error::kind expected_kind) {
  try {
    mogem::fit({values.data(), values.size() / cols, cols}, o);
  } catch (const mogem::error &e) {
    EXPECT_EQ(e.what_kind(), expected_kind) << e.what();
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(Breakdown, ZeroLengthRowsUnderTheCorrelationMetric) {
  mogem::options o;
  o.classes = 2;
  o.max_iterations = 5;
  o.distance = mogem::metric::correlation;
  o.data_name = "in.txt";
  EXPECT_EQ(refusal({1, 2, 0, 0, 3, 1}, 2, o, mogem::error::kind::invalid_input),
            "Error: row 2 of the data of in.txt has length zero; the correlation metric scales every row to unit "
            "length and cannot scale this one: remove the row or choose distance_metric euclidean");
  // Centred first, the row that equals the column means is the one.
  o.center = true;
  EXPECT_NE(refusal({1, 1, 2, 2, 3, 3}, 2, o, mogem::error::kind::invalid_input)
                .find("row 2 of the data of in.txt has length zero once centred"),
            std::string::npos);
}

TEST(Breakdown, AModelThatBecomesNotANumberNamesTheStep) {
  mogem::options o;
  o.classes = 2;
  o.max_iterations = 3;
  // Every point alike: both initial means coincide, their variance is 0.
  EXPECT_EQ(refusal({2, 2, 2, 2, 2, 2}, 2, o, mogem::error::kind::breakdown),
            "Error: the fit broke down at EM step 0: the mixture weights became not-a-number; choose other initial "
            "means (another init_method or random_seed), fewer classes, or data on a scale whose squared distances "
            "stay finite");
  // Without a step, the final posteriors are the first to break down.
  o.max_iterations = 0;
  EXPECT_NE(refusal({2, 2, 2, 2, 2, 2}, 2, o, mogem::error::kind::breakdown).find("in the final E-step"),
            std::string::npos);
  // Squared distances beyond the largest double.
  o.max_iterations = 3;
  EXPECT_NE(refusal({1e300, 0, -1e300, 0, 5e299, 1}, 2, o, mogem::error::kind::breakdown).find("broke down"),
            std::string::npos);
}

TEST(Breakdown, TheProgramWritesNoResult) {
  scratch_dir dir;
  const run_result r = run_input(dir, "rows 3 cols 1 num_clusters 2 max_em_iterations 3 output_model 1 begin x 2 2 2");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("the fit broke down at EM step 0"), std::string::npos) << r.err;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
}
