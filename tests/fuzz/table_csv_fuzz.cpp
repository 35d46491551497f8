// libFuzzer target: the table reader (io/table_text.h, io/npy_file.h) on arbitrary text and
// NumPy bytes, in process.
//
// An input is a control line, then the text. The control line is: the header ('0' none, '1'
// stated, any other byte detected), the delimiter ('t' a tab, '0' detected, else itself; a
// quote or a line break is refused as read_table refuses it), what a missing value does ('d'
// drop the row, 'k' keep it as NaN, else refuse), then the column list, comma-separated, up to
// the line break. What follows is read as a .npy file when it starts with the format's magic
// bytes, else as text.
//
// Besides surviving every input, the reader must keep its promises: for text, the same table or
// the same refusal on one thread and on two (the pieces cut at line breaks, or through the records
// when the text holds quotes, join to what one reading gives); a table whose sizes agree, with
// a name per column and only finite values unless missing ones are kept; a refusal with a
// message naming the input.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/npy_file.h"
#include "io/table_text.h"
#include "mogem/mogem.h"

using namespace mogem::detail;

namespace {

constexpr std::size_t MAX_INPUT_BYTES = 1 << 16;

[[noreturn]] void broken_promise(const char *what, const std::string &detail) {
  std::fprintf(stderr, "the table reader broke a promise: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// The table, or the refusal's message after "!".
std::string reading(const std::string &text, const table_request &request, table *out) {
  try {
    *out = is_npy(text.data(), text.size()) ? read_npy_table(text.data(), text.size(), "input.csv", request)
                                            : read_text_table(text.data(), text.size(), "input.csv", request);
    return "";
  } catch (const mogem::error &refusal) {
    const std::string message = refusal.what();
    if (message.rfind("input.csv: ", 0) != 0) broken_promise("a refusal that does not name the input", message);
    return "!" + message;
  }
}

bool same_table(const table &a, const table &b) {
  return a.rows == b.rows && a.cols == b.cols && a.names == b.names && a.dropped == b.dropped &&
         a.values.size() == b.values.size() &&
         std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(double)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size > MAX_INPUT_BYTES) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::size_t line_end = input.find('\n');
  if (line_end == std::string::npos || line_end < 3) return 0;
  table_request request;
  request.header = input[0] == '0' ? 0 : input[0] == '1' ? 1 : -1;
  request.delimiter = input[1] == 't' ? '\t' : input[1] == '0' ? 0 : input[1];
  if (request.delimiter == '"' || request.delimiter == '\n' || request.delimiter == '\r') return 0;
  request.drop_incomplete = input[2] == 'd';
  request.keep_missing = input[2] == 'k';
  for (std::size_t at = 3; at < line_end;) {
    const std::size_t comma = std::min(input.find(',', at), line_end);
    request.columns.push_back(input.substr(at, comma - at));
    at = comma + 1;
  }
  const std::string text = input.substr(line_end + 1);

  table one;
  request.threads = 1;
  const std::string refused = reading(text, request, &one);
  if (refused.empty()) {
    if (one.rows == 0 || one.cols == 0 || one.values.size() != one.rows * one.cols || one.names.size() != one.cols)
      broken_promise("sizes that do not agree", text);
    for (double v : one.values)
      if (!std::isfinite(v) && !(request.keep_missing && std::isnan(v))) broken_promise("a value not finite", text);
  }
  for (int threads : {2}) {
    table many;
    request.threads = threads;
    const std::string again = reading(text, request, &many);
    if (again != refused || (refused.empty() && !same_table(one, many)))
      broken_promise(("another result on " + std::to_string(threads) + " threads: " + again + " / " + refused).c_str(),
                     text);
  }
  return 0;
}
