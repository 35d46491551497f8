// Missing values through the program: bad words refused, `nan` without the key the error it
// always was, and under em .imputed written: observed values as read, each hole the saved
// one-class model's conditional mean of feature 2 given feature 1 (a worked value).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "mogem/files.h"
#include "support/run_binary.h"

namespace {

const char *const xs[10] = {"1.0", "2.0", "3.0", "4.0", "5.0", "1.5", "2.5", "3.5", "4.5", "0.5"};
const char *const ys[10] = {"2.1", "3.9", "6.2", "7.8", "10.1", "2.8", "5.3", "6.9", "9.2", "1.2"};
bool hole_at(int i) { return i == 2 || i == 6; }

// The rows, the second value of rows 3 and 7 written `hole` when one is given.
std::string rows(const char *hole, char separator) {
  std::string text;
  for (int i = 0; i < 10; i++) text += xs[i] + std::string(1, separator) + (hole && hole_at(i) ? hole : ys[i]) + "\n";
  return text;
}

std::string parameter_file(const std::string &keys, const char *hole) {
  return "rows 10 cols 2 num_clusters 1 em_type full max_em_iterations 50 reg_covar 0 variance_floor 0 " + keys +
         "\nbegin data\n" + rows(hole, ' ');
}

void expect_filled(const std::string &text, char separator, const mogem::model &m) {
  const double slope = m.covariance(0, 0, 1) / m.covariance(0, 0, 0);
  std::istringstream in(text);
  for (int i = 0; i < 10; i++) {
    std::string x, y;
    std::getline(in, x, separator), std::getline(in, y);
    EXPECT_EQ(std::stod(x), std::stod(xs[i])) << i;
    const double filled = m.means[1] + slope * (std::stod(xs[i]) - m.means[0]);
    EXPECT_NEAR(std::stod(y), hole_at(i) ? filled : std::stod(ys[i]), hole_at(i) ? 1e-12 : 0.0) << i;
  }
}

}  // namespace

TEST(MissingValues, BadWordsAndNanWithoutTheKeyAreRefusedAsBefore) {
  scratch_dir dir;
  dir.write("bad.txt", parameter_file("missing_values emm", nullptr));
  dir.write("nan.txt", parameter_file("", "nan"));
  dir.write("na.txt", parameter_file("missing_values em", "NA"));
  const run_result flag = run_mogem(dir, {"fit", "bad.txt", "-k", "1", "--missing", "emm"});
  EXPECT_EQ(flag.exit_code, 2);
  EXPECT_NE(flag.err.find("--missing is \"emm\"; it must be one of refuse, em; did you mean em?"), std::string::npos);
  const struct {
    const char *input, *message;
  } refused[] = {
      {"bad.txt", "Error in parameter file bad.txt: \"missing_values\" is \"emm\"; it must be refuse or em\n"},
      {"nan.txt", "Error: the data of nan.txt hold a NaN at row 3, column 2; every value must be a finite number (nan is "
                  "a missing value, fitted on the row's observed values, only under missing_values em)\n"},
      {"na.txt", "Error: Could not read data from the parameter file na.txt: row 3, column 2 is not a number (the file "
                 "must hold 10 rows of 2 numbers after \"begin\" and its value; under missing_values em a missing "
                 "value is written nan)\n"},
  };
  for (const auto &c : refused) {
    const run_result run = run_mogem(dir, {c.input, "out.labels"});
    EXPECT_EQ(run.exit_code, 255);
    EXPECT_EQ(run.err, c.message);
  }
  EXPECT_FALSE(dir.exists("out.labels"));
}

// A parameter file, fit -o and predict -o (CSV under the header); data without a hole give
// the bytes of a run without the key, and .imputed gives their values back as read.
TEST(MissingValues, HolesAreFittedAndWrittenBackFilledIn) {
  scratch_dir dir;
  dir.write("holes.txt", parameter_file("missing_values em model_file holes.json", "nan"));
  dir.write("whole.txt", parameter_file("output_model 1", nullptr));
  dir.write("whole_em.txt", parameter_file("output_model 1 missing_values em", nullptr));
  dir.write("a.csv", "x,y\n" + rows("", ','));
  for (const char *name : {"holes", "whole", "whole_em"})
    ASSERT_EQ(run_mogem(dir, {std::string(name) + ".txt", std::string(name) + ".labels"}).exit_code, 0) << name;
  expect_filled(dir.read("holes.imputed"), '\t', mogem::read_model_file(dir.path("holes.json")));
  for (const char *extension : {".labels", ".means", ".variances", ".weights", ".probs"})
    EXPECT_EQ(dir.read(std::string("whole_em") + extension), dir.read(std::string("whole") + extension)) << extension;
  EXPECT_EQ(dir.read("whole_em.imputed"), "1\t2.1\n2\t3.9\n3\t6.2\n4\t7.8\n5\t10.1\n1.5\t2.8\n2.5\t5.3\n3.5\t6.9\n"
                                          "4.5\t9.2\n0.5\t1.2\n");
  const run_result fit = run_mogem(dir, {"fit", "a.csv", "-k", "1", "--missing", "em", "-o", "r", "--reg-covar", "0"});
  ASSERT_EQ(fit.exit_code, 0) << fit.err;
  EXPECT_EQ(fit.err.substr(0, 59), "2 values missing in 2 rows, fitted on the observed values (");
  ASSERT_EQ(dir.read("r.imputed").substr(0, 4), "x,y\n");
  expect_filled(dir.read("r.imputed").substr(4), ',', mogem::read_model_file(dir.path("r.model.json")));
  ASSERT_EQ(run_mogem(dir, {"predict", "r.model.json", "a.csv", "--missing", "em", "-o", "p"}).exit_code, 0);
  EXPECT_EQ(dir.read("p.imputed"), dir.read("r.imputed"));
  EXPECT_EQ(dir.read("p.labels"), "1\n1\n1\n1\n1\n1\n1\n1\n1\n1\n");
}
