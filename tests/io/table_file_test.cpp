// The table reader on worked files: text in its spellings, NumPy in its layouts, standard
// input, and the refusals a user sees.
#include "io/table_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "mogem/files.h"
#include "mogem/mogem.h"
#include "support/run_binary.h"
#include "support/same_model.h"

using namespace mogem::detail;

namespace {

table read(const scratch_dir &dir, const std::string &name, table_request request = {}) {
  request.path = name == "-" ? name : dir.path(name);
  return read_table(request);
}

// The message read_table refuses the request with, the scratch directory's path left out.
std::string refusal(const scratch_dir &dir, const std::string &name, table_request request = {}) {
  std::string message = error_of([&] { read(dir, name, request); }).what();
  const std::size_t at = message.find(dir.root() + "/");
  return at == std::string::npos ? message : message.erase(at, dir.root().size() + 1);
}

// A .npy file: the header dictionary padded as NumPy pads it, then the data bytes.
std::string npy(const std::string &descr, bool fortran, const std::string &shape, const std::string &data,
                int version = 1) {
  std::string dict = "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
                     ", 'shape': " + shape + ", }";
  const std::size_t prefix = version == 1 ? 10 : 12;
  dict += std::string(63 - (prefix + dict.size()) % 64, ' ') + "\n";
  std::string out = "\x93NUMPY" + std::string(1, static_cast<char>(version)) + std::string(1, '\0');
  for (std::size_t b = 0; b < prefix - 8; b++) out += static_cast<char>(dict.size() >> (8 * b) & 0xff);
  return out + dict + data;
}

template <typename T>
std::string bytes_of(std::initializer_list<T> values, bool big_endian = false) {
  std::string out;
  for (T v : values) {
    std::string b(reinterpret_cast<const char *>(&v), sizeof v);
    if (big_endian) b.assign(b.rbegin(), b.rend());
    out += b;
  }
  return out;
}

}  // namespace

TEST(TableFile, ReadsWorkedFiles) {
  const double nan = std::nan("");
  const struct {
    std::string name, content;
    table_request request;
    std::vector<std::string> names;
    std::vector<double> values;  // row-major; its size over the names' count gives the rows
    std::size_t dropped = 0;
  } cases[] = {
      // Header detected, byte-order mark, CRLF, quotes holding the delimiter and a line break, a blank line.
      {"a.csv", "\xEF\xBB\xBFx,\"y, cm\",z\r\n1,2,3\r\n\r\n\"4\",5 , 6\r\n7,8,9", {}, {"x", "y, cm", "z"},
       {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"b.csv", "name,v\n\"a,\nb\",1.5\nc,-2e1\n", {}, {"v"}, {1.5, -20}},  // the text column left out
      {"c.tsv", "1\ta\t2\n3\tb\t4\n", {}, {"1", "3"}, {1, 2, 3, 4}},
      {"d.txt", "  1 2\t 3\n\n4  5 6  \n", {}, {"1", "2", "3"}, {1, 2, 3, 4, 5, 6}},
      {"e.csv", "p;q\n1,5;2\n", {"", ';', -1, {"q"}}, {"q"}, {2}},
      // Columns by name, number and range, in the order asked; a header stated.
      {"f.csv", "10,b,c\n1,2,3\n4,5,6\n", {"", 0, 1, {"c", "1", "2-3", "10"}}, {"c", "10", "b", "c", "10"},
       {3, 1, 2, 3, 1, 6, 4, 5, 6, 4}},
      {"g.csv", "x,y\n1,NA\n2,3\n,4\n", {"", 0, -1, {}, true}, {"x", "y"}, {2, 3}, 2},
      {"h.csv", "x,y\n1,NA\n2,3\n", {"", 0, -1, {}, false, true}, {"x", "y"}, {1, nan, 2, 3}},
      // NumPy: float64, float32, Fortran order, big-endian, version 2, a vector.
      {"a.npy", npy("<f8", false, "(2, 2)", bytes_of<double>({1, 2, 3, 4})), {}, {"1", "2"}, {1, 2, 3, 4}},
      {"b.npy", npy("<f4", false, "(1, 2)", bytes_of<float>({0.1f, 2})), {}, {"1", "2"}, {double(0.1f), 2}},
      {"c.npy", npy("<f8", true, "(2, 3)", bytes_of<double>({1, 4, 2, 5, 3, 6})), {"", 0, -1, {"3", "1"}},
       {"3", "1"}, {3, 1, 6, 4}},
      {"d.npy", npy(">f8", false, "(2,)", bytes_of<double>({1, 2}, true), 2), {}, {"1"}, {1, 2}},
      {"e.npy", npy("<f8", false, "(3, 1)", bytes_of<double>({1, nan, 3})), {"", 0, -1, {}, true}, {"1"}, {1, 3}, 1},
      {"f.npy", npy("<f8", false, "(3, 1)", bytes_of<double>({1, nan, 3})), {"", 0, -1, {}, false, true}, {"1"},
       {1, nan, 3}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir dir;
    dir.write(c.name, c.content);
    for (int threads : {1, 2}) {
      table_request request = c.request;
      request.threads = threads;
      const table t = read(dir, c.name, request);
      EXPECT_EQ(t.names, c.names);
      ASSERT_EQ(t.cols, c.names.size());
      ASSERT_EQ(t.rows * t.cols, c.values.size());
      for (std::size_t k = 0; k < c.values.size(); k++)
        EXPECT_TRUE(t.values[k] == c.values[k] || (std::isnan(c.values[k]) && std::isnan(t.values[k]))) << k;
      EXPECT_EQ(t.dropped, c.dropped);
    }
  }
}

TEST(TableFile, RefusesNamingFileLineColumnAndRemedy) {
  const struct {
    std::string name, content;
    table_request request;
    std::string message;
  } cases[] = {
      {"a.csv", "x,y\n1,2\n3,1.5x\n", {}, "a.csv: line 3, column 2 (\"y\"): \"1.5x\" is not a number; correct it, "
                                          "or leave the column out with --columns"},
      {"a.csv", "x,1\n3,4\n", {"", 0, -1, {"1-2"}}, "a.csv: line 1, column 1: \"x\" is not a number (a header line? --header "
                                                    "yes); correct it, or leave the column out with --columns"},
      {"a.csv", "x,y\n1,\n", {}, "a.csv: line 2, column 2 (\"y\") is empty; leave out rows with a missing value "
                                 "with --drop-incomplete, fit them on their observed values with --missing em, or the "
                                 "column with --columns"},
      {"a.csv", "x,y\n1,inf\n", {}, "a.csv: line 2, column 2 (\"y\"): \"inf\" is not a finite number; correct it, "
                                    "or leave the column out with --columns"},
      {"a.csv", "x,y\n1,2\n\n3\n", {}, "a.csv: line 4 has 1 field where line 1 has 2 (is the delimiter right? "
                                       "a field holding the delimiter needs quotes)"},
      {"a.csv", "x,y\n1,\"2\n3,4\n", {}, "a.csv: line 2: a quoted field is not closed (a quote inside a field is "
                                         "written \"\")"},
      {"a.csv", "x,y\n", {}, "a.csv: holds no data rows"},
      {"a.csv", "x,y\n1,2\n", {"", 0, -1, {"weight"}}, "a.csv: no column is named \"weight\"; the header names x, y"},
      {"a.csv", "x,y\n1,2\n", {"", 0, -1, {"3"}}, "a.csv: there is no column 3 (it has 2 columns)"},
      {"a.csv", "1,2\n", {"", 0, 0, {"y"}}, "a.csv: no column is named \"y\": without a header line columns are chosen "
                                        "by number, 1 to 2 (with a header line: --header yes)"},
      {"a.csv", "1,2\n", {"", 0, -1, {}, true, true}, "rows with a missing value can be dropped or kept, not both: "
                                                  "choose one of the two"},
      {"none.csv", "", {}, ""},
      {"a.npy", npy("<i8", false, "(1,)", bytes_of<long>({1})), {}, "a.npy: holds elements of type \"<i8\"; this "
                                                                   "program reads float64 and float32 (save "
                                                                   "X.astype(numpy.float64))"},
      {"a.npy", npy("<f8", false, "(2, 2)", bytes_of<double>({1, 2, 3})), {},
       "a.npy: is cut short: its shape needs more bytes than the file holds"},
      {"a.npy", npy("<f8", false, "(1, 2)", bytes_of<double>({1, std::nan("")})), {},
       "a.npy: row 1, column 2 is NaN (a missing value); leave out rows with a missing value with "
       "--drop-incomplete, fit them on their observed values with --missing em, or the column with --columns"},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    if (c.name != "none.csv") dir.write(c.name, c.content);
    for (int threads : {1, 2}) {
      table_request request = c.request;
      request.threads = threads;
      EXPECT_EQ(refusal(dir, c.name, request),
                c.message.empty() ? "cannot read none.csv: No such file or directory" : c.message);
    }
  }
}

// The same tokens give the same doubles as the parameter file's reader; the pieces on two
// threads give what one reading gives, and a bad field late in the text is named at its line.
TEST(TableFile, SameDoublesAsTheParameterFileOnAnyThreads) {
  std::string csv = "a,b,c\n", params = "rows 3000\ncols 3\nnum_clusters 1\nbegin data\n";
  const char *tokens[] = {"0.1", "+5", "1e-320", "0x1p-3", "2.5E+3", ".5", "5.", "-0", "123456789012345678901"};
  for (int r = 0; r < 3000; r++) {
    std::string row;
    for (int c = 0; c < 3; c++) row += std::string(c ? "," : "") + tokens[(r * 3 + c) % 9] + (r % 7 ? "" : "1");
    csv += r % 500 == 0 ? "\"" + row.substr(0, row.find(',')) + "\"" + row.substr(row.find(',')) + "\n" : row + "\n";
    for (char &ch : row) ch = ch == ',' ? ' ' : ch;
    params += row + "\n";
  }
  scratch_dir dir;
  dir.write("t.csv", csv);
  dir.write("t.txt", params);
  const std::vector<double> expected = mogem::read_parameter_file(dir.path("t.txt")).data;
  for (int threads : {1, 2, 3}) {
    table_request request;
    request.threads = threads;
    const table t = read(dir, "t.csv", request);
    ASSERT_EQ(t.values.size(), expected.size());
    EXPECT_EQ(std::memcmp(t.values.data(), expected.data(), expected.size() * sizeof(double)), 0) << threads;
  }
  // The shipped example as CSV (its first line is no header of names, but a header all the same).
  table_request iris{std::string(MOGEM_SOURCE_DIR) + "/examples/iris.csv", 0, 1, {"1-4"}};
  EXPECT_EQ(read_table(iris).values, mogem::read_parameter_file(std::string(MOGEM_SOURCE_DIR) + "/examples/iris.txt").data);

  dir.write("t.csv", csv + "1,2,x\n");
  table_request two;
  two.threads = 2;
  EXPECT_EQ(refusal(dir, "t.csv", two).rfind("t.csv: line 3002, column 3 (\"c\"): \"x\" is not", 0), 0u);
}

TEST(TableFile, StandardInputTextOrNumPy) {
  scratch_dir dir;
  dir.write("in.csv", "x\ty\n1\t2\n");
  dir.write("in.npy", npy("<f4", false, "(1, 2)", bytes_of<float>({3, 4})));
  const int saved = dup(STDIN_FILENO);
  for (const char *name : {"in.csv", "in.npy"}) {
    const int fd = open(dir.path(name).c_str(), O_RDONLY);
    dup2(fd, STDIN_FILENO);
    close(fd);
    const table t = read(dir, "-");
    EXPECT_EQ(t.values, (std::vector<double>{name[3] == 'c' ? 1. : 3., name[3] == 'c' ? 2. : 4.}));
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
}
