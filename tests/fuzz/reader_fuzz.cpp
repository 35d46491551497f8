// libFuzzer target: arbitrary bytes as the parameter file of a whole run, in process.
//
// Each input is written to a private file and handed to run_program exactly as the command line
// would hand it, so the real reader, the checks, the algorithms and the result writers all run;
// a fatal path must come back as an exit code without ending this process or leaking.
// Every input's work is kept small here, not in the program: inputs whose parameters ask for
// more than a few milliseconds (more than a small matrix, class count or step budget, a long
// annealing schedule, many restarts or candidates) are skipped, except when the input is too
// short for the matrix it declares: the reader refuses those cheaply. Files an input names
// (a saved model to write, to start from or to predict with) must be one of the files of the
// private directory the target works in. The run uses one thread and a directory in memory
// when there is one (/dev/shm), so that neither thread starts nor disk syncs dominate.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "io/parameter_file.h"
#include "cli/program.h"
#include "initializations/init_methods.h"

using namespace mogem::detail;

namespace {

constexpr std::size_t MAX_INPUT_BYTES = 1 << 16;
constexpr int MAX_ROWS = 48, MAX_COLS = 5, MAX_CLASSES = 4, MAX_ITERATIONS = 8, MAX_RESTARTS = 2;
constexpr double MAX_START_TEMPERATURE = 8.0, MAX_COOLING = 0.7;

struct workspace {
  std::string input, output;
};

// Made once, the process's working directory from then on (libFuzzer's -artifact_prefix keeps
// what it saves elsewhere).
const workspace &private_files() {
  static const workspace files = [] {
    char in_memory[] = "/dev/shm/mogem-fuzz-XXXXXX", on_disk[] = "/tmp/mogem-fuzz-XXXXXX";
    const char *dir = mkdtemp(in_memory);
    if (!dir) dir = mkdtemp(on_disk);
    if (!dir || chdir(dir) != 0) std::abort();
    return workspace{std::string(dir) + "/input.txt", std::string(dir) + "/labels.txt"};
  }();
  return files;
}

// The largest value any occurrence of `key` gives (strtod; 0 when absent).
double largest(const std::multimap<std::string, std::string> &pairs, const std::string &key) {
  double most = 0.0;
  for (auto [at, end] = pairs.equal_range(key); at != end; ++at) {
    const double v = std::strtod(at->second.c_str(), nullptr);
    if (!(v <= most)) most = v;  // NaN counts as large
  }
  return most;
}

// The keys that name a file name one of the few files of the private directory (so that the
// files a run leaves stay few), and the counts of restarts and candidates stay small.
bool small_and_local(const std::multimap<std::string, std::string> &pairs) {
  for (const char *key : {"model_file", "predict_with", "init_model"})
    for (auto [at, end] = pairs.equal_range(key); at != end; ++at)
      if (at->second != "model.json" && at->second != "input.txt" && at->second != "labels.txt") return false;
  if (largest(pairs, "num_restarts") > MAX_RESTARTS) return false;
  for (auto [at, end] = pairs.equal_range("select_classes"); at != end; ++at) {
    const std::size_t colon = at->second.find(':');
    const double to = std::strtod(at->second.c_str() + (colon == std::string::npos ? 0 : colon + 1), nullptr);
    if (!(to <= MAX_CLASSES)) return false;
  }
  return true;
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
  std::multimap<std::string, std::string> pairs;
  for (std::size_t t = 0; t + 1 < tokens.size(); t += 2) {
    if (tokens[t].size() > 511 || tokens[t + 1].size() > 511) break;  // the reader refuses it
    if (tokens[t] == "begin") break;
    parse_param_pair(tokens[t].c_str(), tokens[t + 1].c_str(), &s);  // no sink: no warnings
    pairs.emplace(tokens[t].c_str(), tokens[t + 1].c_str());  // as the reader sees them: up to a NUL
  }
  if (std::holds_alternative<mogem::means_file_start>(o.start) || !small_and_local(pairs)) return false;
  // Counts that ask for more values than the input can hold are refused by the reader before
  // it allocates anything: those are cheap whatever their size.
  const unsigned long long rows = s.rows > 0 ? s.rows : 0, cols = s.cols > 0 ? s.cols : 0;
  const unsigned long long values = rows * cols;  // below 2^62: no overflow
  if (values > text.size() / 2) return true;
  if (s.rows > MAX_ROWS || s.cols > MAX_COLS || o.classes > MAX_CLASSES || o.samples > MAX_ROWS) return false;
  if (o.max_iterations > MAX_ITERATIONS || o.restarts > MAX_RESTARTS || o.init == mogem::initialization::means_file)
    return false;
  if (o.method == mogem::algorithm::annealing && o.init_temp > 1.0 &&
      !(o.init_temp <= MAX_START_TEMPERATURE && o.schedule_scalar <= MAX_COOLING))
    return false;
  return true;
}

}  // namespace

// A small quarantine keeps the resident size (and the time spent in fresh pages) down.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("MOGEM_THREADS", "1", 1);
  private_files();
  return 0;
}

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
