// libFuzzer target: mogem-csv's reader and converter on arbitrary CSV text, in process.
//
// An input is a control line, then the CSV text. The control line is: '1' for a header (any
// other byte: none), the delimiter ('t' for a tab; a quote or a line break is refused as the
// command line refuses it), then the column list up to the line break.
//
// Besides surviving every input, the converter must keep its promise: a parameter file it
// writes is one the program reads without a warning, with the counts it wrote and, value for
// value, the numbers of the chosen fields as strtod reads them.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mogem/files.h"
#include "tools/csv/csv_convert.h"

namespace {

constexpr std::size_t MAX_INPUT_BYTES = 1 << 16;

const std::string &private_file() {
  static const std::string path = [] {
    char dir[] = "/tmp/mogem-fuzz-csv-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    return std::string(dir) + "/params.txt";
  }();
  return path;
}

[[noreturn]] void broken_promise(const char *what, const std::string &detail) {
  std::fprintf(stderr, "mogem-csv wrote a parameter file the program does not take as written: %s\n%s\n", what,
               detail.c_str());
  std::abort();
}

// The numbers of the data section as the converter wrote them: blank-separated, a line break
// after each row.
std::vector<double> written_values(const std::string &params) {
  std::vector<double> values;
  const std::size_t begin = params.find("begin data\n");
  if (begin == std::string::npos) broken_promise("no \"begin data\" line", params);
  const char *at = params.c_str() + begin + std::strlen("begin data\n");
  while (*at) {
    char *end = nullptr;
    values.push_back(std::strtod(at, &end));
    if (end == at) broken_promise("a data token strtod does not read", at);
    at = end;
    while (*at == ' ' || *at == '\n') at++;
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size < 2 || size > MAX_INPUT_BYTES) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::size_t line_end = input.find('\n');
  if (line_end == std::string::npos || line_end < 2) return 0;
  csv_options options;
  options.header = input[0] == '1';
  const char delimiter = input[1] == 't' ? '\t' : input[1];
  if (delimiter == '"' || delimiter == '\r') return 0;
  options.delimiter = delimiter;
  options.columns = input.substr(2, line_end - 2);
  options.settings = {{"num_clusters", "2"}};
  const std::string text = input.substr(line_end + 1);
  std::string params, error;
  if (csv_to_parameters(text, "input.csv", options, &params, &error) != CSV_OK) {
    if (error.empty()) broken_promise("a refusal without a message", text);
    return 0;
  }

  const std::string &path = private_file();
  FILE *fp = std::fopen(path.c_str(), "wb");
  if (!fp) std::abort();
  std::fwrite(params.data(), 1, params.size(), fp);
  std::fclose(fp);
  std::string warnings;
  mogem::parameter_file file;
  try {
    file = mogem::read_parameter_file(path, [&](const std::string &w) { warnings += w + "\n"; });
  } catch (const mogem::error &refusal) {
    broken_promise(refusal.what(), params);
  }
  if (!warnings.empty()) broken_promise(warnings.c_str(), params);
  const std::vector<double> expected = written_values(params);
  if (file.rows * file.cols != expected.size() || file.data.size() != expected.size())
    broken_promise("the counts do not match the values", params);
  for (std::size_t k = 0; k < expected.size(); k++) {
    const bool same = std::memcmp(&file.data[k], &expected[k], sizeof(double)) == 0;
    if (!same) broken_promise(("value " + std::to_string(k + 1) + " reads differently").c_str(), params);
  }
  return 0;
}
