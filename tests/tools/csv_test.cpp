// mogem-csv through its binary: the parameter file it writes and the errors it reports.
#include <gtest/gtest.h>

#include "support/run_binary.h"

namespace {

run_result csv(const scratch_dir &dir, const std::vector<std::string> &args) {
  return run_executable(dir, MOGEM_CSV_BINARY, args);
}

}  // namespace

TEST(MogemCsv, SpreadsheetExportToARun) {
  scratch_dir dir;
  // Byte-order mark, CRLF line ends, a quoted field with the delimiter in it, a blank line.
  dir.write("plants.csv",
            "\xEF\xBB\xBFname;height;width;\"weight; kg\"\r\n"
            "a;1.5; 2 ;\"0.25\"\r\n"
            "\"b;c\";-3e1;4;5\r\n"
            "\r\n"
            "d;7;8;9\r\n");
  run_result r = csv(dir, {"--header", "--delimiter", ";", "--columns", "weight; kg,2-3", "plants.csv",
                           "num_clusters=2", "em_type=full", "output_model=1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "rows 3\ncols 3\nnum_clusters 2\nem_type full\noutput_model 1\nmax_em_iterations 100\nbegin data\n"
            "0.25 1.5 2\n5 -3e1 4\n9 7 8\n");

  // Written to a file, with a tab delimiter and no header.
  dir.write("points.tsv", "0\t0\n0.5\t0.2\n5\t5\n5.4\t4.8\n");
  r = csv(dir, {"points.tsv", "--delimiter", "tab", "-o", "points.txt", "num_clusters=2", "max_em_iterations=5"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(dir.read("points.txt"),
            "rows 4\ncols 2\nnum_clusters 2\nmax_em_iterations 5\nbegin data\n0 0\n0.5 0.2\n5 5\n5.4 4.8\n");

  // A selection names its classes in select_classes.
  r = csv(dir, {"points.tsv", "--delimiter", "tab", "select_classes=1:2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 55), "rows 4\ncols 2\nselect_classes 1:2\nmax_em_iterations 100\n");
}

TEST(MogemCsv, MissingFieldsUnderMissingValuesEm) {
  scratch_dir dir;
  // The spellings of mogem fit's own CSV reader, and NA and NaN in any case.
  dir.write("holes.csv", "x,y\n0,0\n0.5,\n NA ,0.3\n5,nan\n5.4,4.8\n4.9,NaN\n0.2,0.1\nn/a,1\n5,-nan\nNULL,2\n4.5,#N/A\nNAN,0.4\n0.3,na\n");
  run_result r = csv(dir, {"--header", "-o", "holes.txt", "holes.csv", "num_clusters=2", "missing_values=em"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(dir.read("holes.txt"),
            "rows 13\ncols 2\nnum_clusters 2\nmissing_values em\nmax_em_iterations 100\nbegin data\n"
            "0 0\n0.5 nan\nnan 0.3\n5 nan\n5.4 4.8\n4.9 nan\n0.2 0.1\nnan 1\n5 nan\nnan 2\n4.5 nan\nnan 0.4\n0.3 nan\n");
  // The program takes the file as it is written.
  r = run_executable(dir, MOGEM_BINARY, {"holes.txt", "holes.labels"});
  EXPECT_EQ(r.exit_code, 0) << r.err;

  // Without the setting each kind of hole is refused, naming the remedy.
  const struct {
    const char *content, *message;
  } cases[] = {
      {"x,y\n1,\n", "line 2, column 2 (\"y\"): \"\" is empty"},
      {"x,y\nNA,2\n", "line 2, column 1 (\"x\"): \"NA\" is not a number"},
      {"x,y\n1,NaN\n", "line 2, column 2 (\"y\"): \"NaN\" is not a finite number"},
  };
  for (const auto &c : cases) {
    dir.write("in.csv", c.content);
    r = csv(dir, {"--header", "in.csv", "num_clusters=2"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("mogem-csv: in.csv: ") + c.message +
                         " (missing_values=em fits rows with missing values)\n");
  }
  // Under missing_values em other words are still no numbers.
  dir.write("in.csv", "x,y\n1,missing\n");
  r = csv(dir, {"--header", "in.csv", "num_clusters=2", "missing_values=em"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-csv: in.csv: line 2, column 2 (\"y\"): \"missing\" is not a number\n");
}

TEST(MogemCsv, BadDataNamesLineAndColumn) {
  scratch_dir dir;
  const struct {
    std::string content;
    std::string message;  // the whole standard error, or its start where `prefix` is set
    bool header = true, prefix = false;
  } cases[] = {
      {"x,y\n1,2\n3,oops\n", "mogem-csv: in.csv: line 3, column 2 (\"y\"): \"oops\" is not a number\n"},
      {"x,y\n1,inf\n", "mogem-csv: in.csv: line 2, column 2 (\"y\"): \"inf\" is not a finite number\n"},
      {"x,y\n1,2\n3\n", "mogem-csv: in.csv: line 3 has 1 fields, the first line 2\n"},
      {"x,y\n1,\"2\n3,4\n", "mogem-csv: in.csv: line 2: a quoted field is not closed\n"},
      {"x,y\n", "mogem-csv: in.csv: holds no data rows\n"},
      // A field is a number only as a whole: one holding a NUL byte after its digits is not.
      {std::string("x,y\n1,0\0\n", 9), "mogem-csv: in.csv: line 2, column 2 (\"y\"): ", true, true},
      // Without --header a header line is bad data, with a hint.
      {"x,y\n1,2\n", "mogem-csv: in.csv: line 1, column 1: \"x\" is not a number (a header line needs --header)\n",
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    dir.write("in.csv", c.content);
    std::vector<std::string> args = {"in.csv", "num_clusters=2", "-o", "out.txt"};
    if (c.header) args.insert(args.begin(), "--header");
    run_result r = csv(dir, args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(c.prefix ? r.err.substr(0, c.message.size()) : r.err, c.message);
    EXPECT_FALSE(dir.exists("out.txt"));
  }
}

TEST(MogemCsv, BadRequestsAreUsageErrors) {
  scratch_dir dir;
  dir.write("in.csv", "x,y\n1,2\n");
  const struct {
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {{"in.csv"}, "num_clusters=K is required"},
      {{"in.csv", "num_clusters=2", "colours=3"}, "unknown parameter \"colours\""},
      {{"in.csv", "num_clusters=2", "rows=3"}, "\"rows\" is counted from the CSV"},
      {{"in.csv", "num_clusters=2", "num_clusters=3"}, "\"num_clusters\" is given twice"},
      {{"in.csv", "num_clusters=two"}, "\"two\" is not a valid value of \"num_clusters\" (an integer)"},
      {{"--columns", "z", "in.csv", "num_clusters=2"}, "no column is named \"z\""},
      {{"--columns", "2-3", "in.csv", "num_clusters=2"}, "there is no column 3: the first line has 2 fields"},
      {{"in.csv", "num_clusters"}, "expected key=value"},
      {{"--delimiter", "::", "in.csv", "num_clusters=2"}, "the delimiter must be one character"},
      {{"--frobnicate", "in.csv"}, "unknown option --frobnicate"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = c.args;
    if (args[0] != "--frobnicate" && args[0] != "--delimiter") args.insert(args.begin(), "--header");
    run_result r = csv(dir, args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  run_result r = csv(dir, {"missing.csv", "num_clusters=2"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "mogem-csv: cannot read missing.csv: No such file or directory\n");
  r = csv(dir, {"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("Usage: mogem-csv ", 0), 0u);
  EXPECT_EQ(r.err, "");
}
