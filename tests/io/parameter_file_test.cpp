#include "io/parameter_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mogem/mogem.h"
#include "support/capture.h"
#include "support/run_binary.h"

using namespace mogem::detail;

namespace {

em_parameters defaults() {
  em_parameters p;
  set_default_parameters(&p);
  return p;
}

// Parses one pair into a default record and returns it.
em_parameters with(const char *key, const char *value) {
  em_parameters p = defaults();
  parse_param_pair(key, value, &p);
  return p;
}

struct read_outcome {
  call_outcome call;
  mogem::parameter_file file;
  double at(int i, int j) const { return file.data[(i - 1) * file.cols + (j - 1)]; }  // 1-based
};

read_outcome read_file(const scratch_dir &dir, const std::string &content) {
  dir.write("input.txt", content);
  read_outcome r;
  std::string input = dir.path("input.txt");
  r.call = capture([&] { r.file = mogem::read_parameter_file(input, warn_on_stderr); });
  return r;
}

const char *const small = "rows 3 cols 2 num_clusters 2 begin data 1 2 3 4 5 6";

}  // namespace

TEST(ParameterValues, IntegersFollowStrtolAndClampTo32Bits) {
  EXPECT_EQ(with("random_seed", "12abc").random_seed, 12);
  EXPECT_EQ(with("random_seed", "abc").random_seed, 0);
  EXPECT_EQ(with("random_seed", "-42").random_seed, -42);
  EXPECT_EQ(with("rows", "+7").num_data, 7);
  EXPECT_EQ(with("max_em_iterations", "99999999999999999999").max_em_iterations, INT32_MAX);
  EXPECT_EQ(with("random_seed", "-99999999999").random_seed, INT32_MIN);
  EXPECT_EQ(with("num_samples", "3.9").samples, 3);
  EXPECT_EQ(with("output_stepsize", "0x10").output_stepsize, 0);  // base 10 only
}

TEST(ParameterValues, RealsFollowStrtod) {
  EXPECT_EQ(with("init_temp", "2.5e1x").init_temp, 25.0);
  EXPECT_EQ(with("schedule_scalar", "abc").schedule_scalar, 0.0);
  EXPECT_EQ(with("t", "0x1p3").t, 8.0);
  em_parameters fast = with("fast", "-0.01");
  EXPECT_EQ(fast.fast, 1);
  EXPECT_EQ(fast.fast_tol, 0.01);
  EXPECT_EQ(with("fast", "word").fast, 1);
}

TEST(ParameterValues, BooleansAcceptFourSpellings) {
  for (const char *yes : {"1", "yes", "true", "y"}) EXPECT_EQ(parse_bool(yes), 1) << yes;
  for (const char *no : {"0", "no", "false", "Yes", "TRUE", "on", "Y", ""}) EXPECT_EQ(parse_bool(no), 0) << no;
  EXPECT_EQ(parse_bool(nullptr), 0);
  EXPECT_EQ(with("output_model", "y").output_model, 1);
  EXPECT_EQ(with("output_internal", "on").output_internal, 0);
}

TEST(ParameterValues, KeywordsSetTheirCodes) {
  EXPECT_EQ(with("em_type", "scalar").em_type, 0);
  EXPECT_EQ(with("em_type", "full").em_type, 2);
  EXPECT_EQ(with("algorithm", "em_annealing").algorithm, 0);
  EXPECT_EQ(with("algorithm", "em_mixture_of_t").algorithm, 3);
  EXPECT_EQ(with("distance_metric", "correlation").distance_metric, 2);
  EXPECT_EQ(with("distance_metric", "correlation").center_data, 0);
  const char *methods[] = {"church_means", "random_means", "random_point", "random_range", "random_sample", "file"};
  for (int code = 1; code <= 6; code++) EXPECT_EQ(with("init_method", methods[code - 1]).init_method, code);
}

TEST(ParameterValues, LaterPairsOverwriteButCentringSticks) {
  em_parameters p = defaults();
  parse_param_pair("rows", "3", &p);
  parse_param_pair("rows", "5", &p);
  EXPECT_EQ(p.num_data, 5);
  parse_param_pair("distance_metric", "correlation_centered", &p);
  EXPECT_EQ(p.distance_metric, 2);
  EXPECT_EQ(p.center_data, 1);
  parse_param_pair("distance_metric", "euclidean", &p);
  EXPECT_EQ(p.distance_metric, 0);
  EXPECT_EQ(p.center_data, 1);

  char value[] = "first.means";
  parse_param_pair("means_file", value, &p);
  std::strcpy(value, "other");
  EXPECT_EQ(p.means_file, "first.means");  // a copy, not the reader's buffer
  parse_param_pair("means_file", "second.means", &p);
  EXPECT_EQ(p.means_file, "second.means");
}

TEST(ParameterValues, BeginEndsTheSectionAndTouchesNothing) {
  em_parameters p = defaults();
  EXPECT_EQ(parse_param_pair("begin", "42", &p), 1);
  EXPECT_EQ(p.num_data, 0);
  EXPECT_EQ(p.random_seed, 42);
  EXPECT_EQ(parse_param_pair("rows", "1", &p), 0);
  EXPECT_EQ(parse_param_pair("Begin", "x", &p), 0);  // keys are case-sensitive
}

TEST(ParameterMessages, UnknownKeysAndValuesAreReportedVerbatim) {
  em_parameters p = defaults();
  auto err_of = [&](const char *key, const char *value) {
    return capture([&] { EXPECT_EQ(parse_param_pair(key, value, &p, warn_on_stderr), 0); }).err;
  };
  EXPECT_EQ(err_of("foo", "5"), "Unsupported parameters: foo\n");
  EXPECT_EQ(err_of("em_type", "Full"), "Unsupported em type: FullDefaulting to Diagonal EM\n");
  EXPECT_EQ(p.em_type, 1);
  EXPECT_EQ(err_of("algorithm", "annealing"), "Unsupported algorithm: annealingDefaulting to EM\n");
  EXPECT_EQ(p.algorithm, 1);
  parse_param_pair("distance_metric", "correlation", &p);
  EXPECT_EQ(err_of("init_method", "kmeans"), "Unsupported mean init method: kmeans\nDefaulting to Church Means\n");
  EXPECT_EQ(p.init_method, 1);
  EXPECT_EQ(p.distance_metric, 2);  // untouched by the init method
  EXPECT_EQ(err_of("distance_metric", "Correlation"), "Unsupported distance metric: Correlation\nDefaulting to Euclidean\n");
  EXPECT_EQ(p.distance_metric, 0);
  EXPECT_EQ(err_of("output_model", "on"), "");
  EXPECT_EQ(err_of("t", "3"), "");
}

TEST(DataReader, LineStructureHasNoMeaning) {
  scratch_dir dir;
  const char *layouts[] = {small, "rows\n3\ncols\n2\nnum_clusters\n2\nbegin\ndata\n1\n2\n3\n4\n5\n6\n",
                           "rows 3\tcols 2\r\n num_clusters\t\t2\n\nbegin x\n1 2\n3\n4 5 6 7 8 surplus words"};
  for (const char *layout : layouts) {
    read_outcome r = read_file(dir, layout);
    ASSERT_EQ(r.call.exit_code, call_outcome::no_exit) << r.call.err;
    EXPECT_EQ(r.call.err, "");
    for (int i = 1; i <= 3; i++)
      for (int j = 1; j <= 2; j++) EXPECT_EQ(r.at(i, j), 2 * (i - 1) + j);
  }
}

TEST(DataReader, NumbersInEveryScanfNotation) {
  scratch_dir dir;
  read_outcome r = read_file(dir, "rows 2 cols 3 num_clusters 1 begin x 1e2 +.5 -3. 0x1p3 1E-2 -0");
  ASSERT_EQ(r.call.exit_code, call_outcome::no_exit) << r.call.err;
  const double want[] = {100, 0.5, -3, 8, 0.01, -0.0};
  for (int k = 0; k < 6; k++) EXPECT_EQ(r.file.data[k], want[k]);
  EXPECT_TRUE(std::signbit(r.file.data[5]));
}

TEST(DataReader, BeginNeedsAValueToken) {
  scratch_dir dir;
  // The first number is taken as the value of begin: one short...
  read_outcome r = read_file(dir, "rows 3 cols 2 num_clusters 2 begin 1 2 3 4 5 6");
  EXPECT_EQ(r.call.exit_code, -1);
  EXPECT_NE(r.call.err.find("row 3, column 2 is missing"), std::string::npos) << r.call.err;
  // ...and with one number more the matrix is read shifted by one value.
  r = read_file(dir, "rows 3 cols 2 num_clusters 2 begin 1 2 3 4 5 6 7");
  ASSERT_EQ(r.call.exit_code, call_outcome::no_exit);
  EXPECT_EQ(r.at(1, 1), 2.0);
  EXPECT_EQ(r.at(3, 2), 7.0);
}

TEST(DataReader, BadDataNamesRowAndColumn) {
  scratch_dir dir;
  read_outcome r = read_file(dir, "rows 3 cols 2 num_clusters 2 begin x 1 2 3 abc 5 6");
  EXPECT_EQ(r.call.exit_code, -1);
  EXPECT_EQ(r.call.err, "Error: Could not read data from the parameter file " + dir.path("input.txt") +
                            ": row 2, column 2 is not a number (the file must hold 3 rows of 2 numbers after "
                            "\"begin\" and its value)\n");
  r = read_file(dir, "rows 3 cols 2 num_clusters 2 begin x 1 2 3");
  EXPECT_EQ(r.call.exit_code, -1);
  EXPECT_NE(r.call.err.find("row 2, column 2 is missing"), std::string::npos) << r.call.err;
}

TEST(DataReader, BrokenParameterSectionsEndTheRun) {
  scratch_dir dir;
  const std::string file = dir.path("input.txt");
  const struct {
    const char *content;
    std::string message;
  } cases[] = {
      {"", "the file is empty"},
      {"rows 6 cols 2 num_clusters", "the file ends after a key that has no value"},
      {"rows 6 cols 2 num_clusters 2", "the file ends before the \"begin\" pair"},
      {"rows 6 cols 2 begin data 1 2", "the key \"num_clusters\" is missing"},
      {"cols 2 num_clusters 2 begin data 1 2", "the key \"rows\" is missing"},
      {"rows 3 cols 0 num_clusters 2 begin data 1 2", "\"cols\" is 0; it must be a positive integer"},
      {"rows 3 cols 1 num_clusters -2 begin data 1 2 3", "\"num_clusters\" is -2; it must be a positive integer"},
  };
  for (const auto &c : cases) {
    read_outcome r = read_file(dir, c.content);
    EXPECT_EQ(r.call.exit_code, -1) << c.content;
    EXPECT_NE(r.call.err.find("Error in parameter file " + file + ": " + c.message), std::string::npos)
        << c.content << " gave " << r.call.err;
  }
}

TEST(DataReader, TokensHoldAtMost511Characters) {
  scratch_dir dir;
  const std::string k511(511, 'k'), k512(512, 'k');
  read_outcome r = read_file(dir, k511 + " 1 " + small);
  ASSERT_EQ(r.call.exit_code, call_outcome::no_exit);
  EXPECT_EQ(r.call.err, "Unsupported parameters: " + k511 + "\n");
  for (const std::string &content : {k512 + " 1 " + small, "rows " + k512 + " " + small}) {
    r = read_file(dir, content);
    EXPECT_EQ(r.call.exit_code, -1);
    EXPECT_NE(r.call.err.find("a token is longer than 511 characters"), std::string::npos) << r.call.err;
  }
}

TEST(DataReader, UnopenableFileNamesItsReason) {
  call_outcome outcome = capture([] { mogem::read_parameter_file("/nonexistent/input.txt"); });
  EXPECT_EQ(outcome.exit_code, -1);
  EXPECT_EQ(outcome.err, "Error: /nonexistent/input.txt is not openable, errno is 2 (No such file or directory)\n");
}
