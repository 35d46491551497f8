// libFuzzer target: arbitrary bytes as the parameter file of a whole run, in process.
//
// Each input is written to a private file and handed to run_program exactly as the command line
// would hand it, so the real reader, the checks, the algorithms and the result writers all run;
// a fatal path must come back as an exit code without ending this process or leaking.
// Inputs whose parameters ask for more work than a fuzzing step should take (large matrices,
// long budgets, long annealing schedules, a means file named by the input) are skipped, except
// when the input is too short for the matrix it declares: the reader refuses those cheaply.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/parameter_file.h"
#include "cli/program.h"
#include "initializations/init_methods.h"

using namespace mogem::detail;

namespace {

constexpr std::size_t MAX_INPUT_BYTES = 1 << 16;
constexpr int MAX_ROWS = 256, MAX_COLS = 8, MAX_CLASSES = 8, MAX_ITERATIONS = 16;
constexpr double MAX_START_TEMPERATURE = 50.0, MAX_COOLING = 0.9;

struct workspace {
  std::string input, output;
};

const workspace &private_files() {
  static const workspace files = [] {
    char dir[] = "/tmp/mogem-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    return workspace{std::string(dir) + "/input.txt", std::string(dir) + "/labels.txt"};
  }();
  return files;
}

// The parameters as the reader will see them: whitespace-separated pairs up to "begin".
bool cheap_enough(const std::string &text) {
  std::vector<std::string> tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) at++;
    std::size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) end++;
    if (end > at) tokens.push_back(text.substr(at, end - at));
    at = end;
  }
  section_settings s;
  set_default_parameters(&s);
  const mogem::options &o = s.file.settings;
  for (std::size_t t = 0; t + 1 < tokens.size(); t += 2) {
    if (tokens[t].size() > 511 || tokens[t + 1].size() > 511) break;  // the reader refuses it
    if (tokens[t] == "begin") break;
    parse_param_pair(tokens[t].c_str(), tokens[t + 1].c_str(), &s);  // no sink: no warnings
  }
  if (!o.means_file.empty()) return false;
  // Counts that ask for more values than the input can hold are refused by the reader before
  // it allocates anything: those are cheap whatever their size.
  const unsigned long long rows = s.rows > 0 ? s.rows : 0, cols = s.cols > 0 ? s.cols : 0;
  const unsigned long long values = rows * cols;  // below 2^62: no overflow
  if (values > text.size() / 2) return true;
  if (s.rows > MAX_ROWS || s.cols > MAX_COLS || o.classes > MAX_CLASSES) return false;
  if (o.max_iterations > MAX_ITERATIONS || o.init == mogem::initialization::means_file) return false;
  if (o.method == mogem::algorithm::annealing && o.init_temp > 1.0 &&
      !(o.init_temp <= MAX_START_TEMPERATURE && o.schedule_scalar <= MAX_COOLING))
    return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size > MAX_INPUT_BYTES) return 0;
  const std::string text(reinterpret_cast<const char *>(data), size);
  if (!cheap_enough(text)) return 0;
  const workspace &files = private_files();
  FILE *fp = std::fopen(files.input.c_str(), "wb");
  if (!fp) std::abort();
  std::fwrite(text.data(), 1, text.size(), fp);
  std::fclose(fp);
  std::string program = "mogem", input = files.input, output = files.output;
  char *argv[] = {&program[0], &input[0], &output[0], nullptr};
  run_program(3, argv);
  return 0;
}
