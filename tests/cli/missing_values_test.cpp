// Missing values through the program's two faces: the key and the flag refuse a bad word, a
// `nan` without the key is the error it always was, and under em the rows with holes are fitted
// and written back filled in (.imputed): observed values as read, each hole the model's
// conditional mean given the row's observed value (one class, two features: a worked value).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mogem/files.h"
#include "support/run_binary.h"

namespace {

// Ten rows of two correlated features; the second feature of rows 3 and 7 is `hole` when one is
// given ("nan" in a parameter file, "" in a CSV file).
std::vector<std::vector<std::string>> rows_with(const char *hole) {
  const char *const values[10][2] = {{"1.0", "2.1"}, {"2.0", "3.9"}, {"3.0", "6.2"}, {"4.0", "7.8"},
                                     {"5.0", "10.1"}, {"1.5", "2.8"}, {"2.5", "5.3"}, {"3.5", "6.9"},
                                     {"4.5", "9.2"}, {"0.5", "1.2"}};
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 10; i++) rows.push_back({values[i][0], (i == 2 || i == 6) && hole ? hole : values[i][1]});
  return rows;
}

std::string joined(const std::vector<std::vector<std::string>> &rows, char separator) {
  std::string text;
  for (const auto &row : rows) text += row[0] + separator + row[1] + "\n";
  return text;
}

std::string parameter_file(const std::string &keys, const char *hole) {
  return "rows 10 cols 2 num_clusters 1 em_type full max_em_iterations 50 reg_covar 0 variance_floor 0 " + keys +
         "\nbegin data\n" + joined(rows_with(hole), ' ');
}

std::vector<std::vector<double>> numbers_by_line(const std::string &text, char separator) {
  std::vector<std::vector<double>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<double> values;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, separator);) values.push_back(std::stod(field));
    lines.push_back(values);
  }
  return lines;
}

// The filled rows hold the observed values exactly (as the reader reads them) and, in rows 3
// and 7, the saved one-class model's conditional mean of feature 2 given feature 1.
void expect_filled(const std::vector<std::vector<double>> &filled, const mogem::model &fitted) {
  ASSERT_EQ(filled.size(), 10u);
  const auto expected = rows_with(nullptr);
  const double slope = fitted.covariance(0, 0, 1) / fitted.covariance(0, 0, 0);
  for (std::size_t i = 0; i < 10; i++) {
    ASSERT_EQ(filled[i].size(), 2u) << i;
    EXPECT_EQ(filled[i][0], std::stod(expected[i][0])) << i;
    if (i == 2 || i == 6)
      EXPECT_NEAR(filled[i][1], fitted.means[1] + slope * (filled[i][0] - fitted.means[0]), 1e-12) << i;
    else
      EXPECT_EQ(filled[i][1], std::stod(expected[i][1])) << i;
  }
}

}  // namespace

TEST(MissingValues, BadWordsAndNanWithoutTheKeyAreRefusedAsBefore) {
  scratch_dir dir;
  dir.write("a.csv", "x,y\n" + joined(rows_with(""), ','));
  dir.write("bad.txt", parameter_file("missing_values emm", "1"));
  dir.write("nan.txt", parameter_file("", "nan"));
  dir.write("na.txt", parameter_file("missing_values em", "NA"));
  const run_result flag = run_mogem(dir, {"fit", "a.csv", "-k", "1", "--missing", "emm"});
  EXPECT_EQ(flag.exit_code, 2);
  EXPECT_NE(flag.err.find("--missing is \"emm\"; it must be one of refuse, em; did you mean em?"), std::string::npos)
      << flag.err;
  const run_result both = run_mogem(dir, {"fit", "a.csv", "-k", "1", "--missing", "em", "--drop-incomplete"});
  EXPECT_EQ(both.exit_code, 2) << both.err;
  const run_result empty_field = run_mogem(dir, {"fit", "a.csv", "-k", "1"});
  EXPECT_EQ(empty_field.exit_code, 1);
  EXPECT_NE(empty_field.err.find("line 4, column 2 (\"y\") is empty"), std::string::npos) << empty_field.err;
  const run_result key = run_mogem(dir, {"bad.txt", "bad.labels"});
  EXPECT_EQ(key.exit_code, 255);
  EXPECT_EQ(key.err, "Error in parameter file bad.txt: \"missing_values\" is \"emm\"; it must be refuse or em\n");
  const run_result nan = run_mogem(dir, {"nan.txt", "nan.labels"});
  EXPECT_EQ(nan.exit_code, 255);
  EXPECT_EQ(nan.err, "Error: the data of nan.txt hold a NaN at row 3, column 2; every value must be a finite number\n");
  const run_result na = run_mogem(dir, {"na.txt", "na.labels"});
  EXPECT_EQ(na.exit_code, 255);
  EXPECT_NE(na.err.find("row 3, column 2 is not a number (the file must hold 10 rows of 2 numbers after \"begin\" and "
                        "its value; under missing_values em a missing value is written nan)"),
            std::string::npos)
      << na.err;
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"a.csv", "bad.txt", "na.txt", "nan.txt"}));
}

// The parameter file: `nan` under missing_values em is a hole; .imputed is written beside the
// labels, and data without a hole give the bytes of a run without the key.
TEST(MissingValues, ParameterFileWritesTheRowsFilledIn) {
  scratch_dir dir;
  dir.write("holes.txt", parameter_file("missing_values em model_file holes.json", "nan"));
  dir.write("whole.txt", parameter_file("output_model 1", nullptr));
  dir.write("whole_em.txt", parameter_file("output_model 1 missing_values em", nullptr));
  for (const char *name : {"holes", "whole", "whole_em"}) {
    const run_result run = run_mogem(dir, {std::string(name) + ".txt", std::string(name) + ".labels"});
    ASSERT_EQ(run.exit_code, 0) << name << ": " << run.err;
  }
  expect_filled(numbers_by_line(dir.read("holes.imputed"), '\t'), mogem::read_model_file(dir.path("holes.json")));
  EXPECT_FALSE(dir.exists("whole.imputed"));
  for (const char *extension : {".labels", ".means", ".variances", ".weights", ".probs"})
    EXPECT_EQ(dir.read(std::string("whole_em") + extension), dir.read(std::string("whole") + extension)) << extension;
  EXPECT_EQ(dir.read("whole_em.imputed"), joined({{"1", "2.1"}, {"2", "3.9"}, {"3", "6.2"}, {"4", "7.8"},
                                                  {"5", "10.1"}, {"1.5", "2.8"}, {"2.5", "5.3"}, {"3.5", "6.9"},
                                                  {"4.5", "9.2"}, {"0.5", "1.2"}}, '\t'));
}

// The commands: an empty CSV field under --missing em is a hole; -o writes PREFIX.imputed as
// CSV under the header, and predict labels and fills new rows with holes.
TEST(MissingValues, CommandsFitAndPredictRowsWithHoles) {
  scratch_dir dir;
  dir.write("a.csv", "x,y\n" + joined(rows_with(""), ','));
  const run_result fit = run_mogem(dir, {"fit", "a.csv", "-k", "1", "--missing", "em", "-o", "r", "-q",
                                         "--reg-covar", "0", "--max-iter", "50"});
  ASSERT_EQ(fit.exit_code, 0) << fit.err;
  const std::string imputed = dir.read("r.imputed");
  ASSERT_EQ(imputed.substr(0, 4), "x,y\n");
  const mogem::model fitted = mogem::read_model_file(dir.path("r.model.json"));
  expect_filled(numbers_by_line(imputed.substr(4), ','), fitted);
  const run_result predict = run_mogem(dir, {"predict", "r.model.json", "a.csv", "--missing", "em", "-o", "p", "-q"});
  ASSERT_EQ(predict.exit_code, 0) << predict.err;
  EXPECT_EQ(dir.read("p.labels"), "1\n1\n1\n1\n1\n1\n1\n1\n1\n1\n");
  EXPECT_EQ(dir.read("p.imputed"), imputed);
  EXPECT_EQ(run_mogem(dir, {"predict", "r.model.json", "a.csv"}).exit_code, 1);
}
