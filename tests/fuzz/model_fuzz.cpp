// libFuzzer target: arbitrary bytes as a saved model (model_from_json), in process.
//
// Besides surviving every input, a model the reader accepts must keep two promises: it labels
// rows (a few, made from the input's bytes) with classes it has and posteriors that are
// probabilities, and written again it reads back to the same document.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mogem/files.h"

namespace {

constexpr std::size_t MAX_INPUT_BYTES = 1 << 15;
constexpr int ROWS = 3;

[[noreturn]] void broken_promise(const char *what, const std::string &document) {
  std::fprintf(stderr, "an accepted model breaks a promise: %s\n%s\n", what, document.c_str());
  std::abort();
}

}  // namespace

// A small quarantine keeps the resident size (and the time spent in fresh pages) down.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size > MAX_INPUT_BYTES) return 0;
  const std::string text(reinterpret_cast<const char *>(data), size);
  mogem::model fitted;
  try {
    fitted = mogem::model_from_json(text, "fuzz.json");
  } catch (const mogem::error &refusal) {
    if (std::string(refusal.what()).find("fuzz.json") == std::string::npos)
      broken_promise("a refusal that does not name the file", refusal.what());
    return 0;
  }
  const std::string written = mogem::model_to_json(fitted);
  try {
    if (mogem::model_to_json(mogem::model_from_json(written, "again.json")) != written)
      broken_promise("it reads back to another document", written);
  } catch (const mogem::error &refusal) {
    broken_promise(refusal.what(), written);
  }

  const std::size_t F = static_cast<std::size_t>(fitted.features);
  std::vector<double> rows(ROWS * F);
  for (std::size_t v = 0; v < rows.size(); v++) rows[v] = static_cast<double>(data[v % size]) / 16.0 - 8.0;
  mogem::prediction labelled;
  try {
    labelled = mogem::predict_all(fitted, mogem::matrix_view{rows.data(), ROWS, F}, 1);
  } catch (const mogem::error &) {
    return 0;  // a refusal (a density that underflows everywhere, say) is an answer
  }
  for (double p : labelled.posteriors)
    if (p < 0.0 || p > 1.0) broken_promise("a posterior outside [0, 1]", written);
  for (int label : labelled.labels)
    if (label < 0 || label >= fitted.classes) broken_promise("a label that is no class", written);
  return 0;
}
