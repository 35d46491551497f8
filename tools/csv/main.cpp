// mogem-csv: writes a mogem parameter file from a CSV file and a few key=value settings.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/csv/csv_convert.h"


namespace {

const char *const usage =
    "Usage: mogem-csv [--header] [--delimiter C] [--columns LIST] [-o FILE] <csv_file> key=value...\n";

void print_help() {
  std::printf("%s", usage);
  std::printf(
      "\n"
      "Writes a mogem parameter file (to FILE, or standard output) holding the numbers of\n"
      "csv_file (\"-\" reads standard input) and the given parameters; rows and cols are\n"
      "counted from the data. num_clusters=K is required (select_classes=A:B or\n"
      "predict_with=MODEL stand for it); max_em_iterations is %s unless given. Keys and\n"
      "values are those of mogem --help. A field must be a finite number; with\n"
      "missing_values=em a field mogem fit reads as missing (empty, NA, N/A, NaN, -nan,\n"
      "NULL, None, #N/A, ...; NA and NaN in any case) is a missing value, written nan.\n"
      "\n"
      "  --header          the first line names the columns\n"
      "  --delimiter C     the field separator: one character, or \"tab\" (default \",\")\n"
      "  --columns LIST    the columns to keep, in this order: numbers from 1, ranges\n"
      "                    such as 2-4, or names from the header, separated by commas\n"
      "  -o FILE           write the parameter file to FILE\n"
      "\n"
      "Example: mogem-csv --header --columns 1-4 -o iris.txt iris.csv num_clusters=3\n"
      "         mogem iris.txt iris.labels\n"
      "\n"
      "Exit codes: 0 written; 1 a bad CSV file, or a file that cannot be read or written;\n"
      "2 a bad command line or setting.\n",
      DEFAULT_EM_ITERATIONS);
}

int usage_error(const std::string &problem) {
  std::fprintf(stderr, "mogem-csv: %s\n%s", problem.c_str(), usage);
  return 2;
}

bool read_all(const std::string &name, std::string *text) {
  std::FILE *in = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (!in) return false;
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text->append(buffer, n);
  const bool ok = !std::ferror(in);
  if (in != stdin) std::fclose(in);
  return ok;
}

bool write_all(const std::string &name, const std::string &text) {
  std::FILE *out = name.empty() ? stdout : std::fopen(name.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = (out == stdout ? std::fflush(out) : std::fclose(out)) == 0 && ok;
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  csv_options options;
  std::string input, output;
  bool have_input = false;
  for (int a = 1; a < argc; a++) {
    const std::string arg = argv[a];
    const bool takes_value = arg == "--delimiter" || arg == "--columns" || arg == "-o";
    if (takes_value && a + 1 >= argc) return usage_error(arg + " needs a value");
    if (arg == "--help") {
      print_help();
      return 0;
    } else if (arg == "--header") {
      options.header = true;
    } else if (arg == "--delimiter") {
      const std::string d = argv[++a];
      if (d == "tab" || d == "\\t") {
        options.delimiter = '\t';
      } else if (d.size() == 1 && d != "\"" && d != "\n" && d != "\r") {
        options.delimiter = d[0];
      } else {
        return usage_error("the delimiter must be one character other than a quote, or \"tab\"");
      }
    } else if (arg == "--columns") {
      options.columns = argv[++a];
    } else if (arg == "-o") {
      output = argv[++a];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option " + arg);
    } else if (!have_input) {
      input = arg;
      have_input = true;
    } else {
      const std::size_t eq = arg.find('=');
      if (eq == std::string::npos || eq == 0) return usage_error("expected key=value, got \"" + arg + "\"");
      options.settings.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
    }
  }
  if (!have_input) return usage_error("no CSV file given");

  std::string text, params, error;
  if (!read_all(input, &text)) {
    std::fprintf(stderr, "mogem-csv: cannot read %s: %s\n", input.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string source = input == "-" ? "standard input" : input;
  const csv_result result = csv_to_parameters(text, source, options, &params, &error);
  if (result != CSV_OK) {
    std::fprintf(stderr, "mogem-csv: %s\n", error.c_str());
    return result == CSV_BAD_DATA ? 1 : 2;
  }
  if (!write_all(output, params)) {
    std::fprintf(stderr, "mogem-csv: cannot write %s: %s\n", output.empty() ? "standard output" : output.c_str(),
                 std::strerror(errno));
    if (!output.empty()) std::remove(output.c_str());
    return 1;
  }
  return 0;
}
