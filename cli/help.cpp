#include "cli/help.h"

#include <cstring>
#include <string>

#include "cli/result_plan.h"
#include "io/settings.h"

namespace mogem::detail {

#ifndef MOGEM_VERSION
#error "MOGEM_VERSION must be defined by the build"
#endif

namespace {

// Writes text word by word, starting at column `indent` (the caller has written what comes
// before it on the first line) and breaking lines before column 79.
void print_wrapped(std::FILE *out, int indent, const std::string &text) {
  const int width = 79;
  int column = indent;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const int length = static_cast<int>(end - start);
    if (column > indent && column + 1 + length > width) {
      std::fprintf(out, "\n%*s", indent, "");
      column = indent;
    } else if (column > indent) {
      std::fputc(' ', out);
      column++;
    }
    std::fprintf(out, "%.*s", length, text.c_str() + start);
    column += length;
    start = end + 1;
  }
  std::fputc('\n', out);
}

}  // namespace

void print_version(std::FILE *out) { std::fprintf(out, "mogem %s\n", MOGEM_VERSION); }

void print_help(std::FILE *out, const char *program) {
  std::fprintf(out,
               "Usage: %s <input_file> <output_file>\n"
               "       %s --help | --version\n"
               "\n"
               "Fits a mixture of Gaussians to the rows of the data matrix in input_file with\n"
               "EM (or annealing EM) and writes each row's most probable class to output_file.\n"
               "\n"
               "The input file: whitespace-separated \"key value\" pairs, then \"begin\" and one\n"
               "more token, then rows x cols numbers, row after row:\n"
               "  rows 3  cols 2  num_clusters 2  max_em_iterations 100\n"
               "  begin data\n"
               "  0.0 0.1\n"
               "  0.2 0.0\n"
               "  5.0 5.1\n"
               "\n"
               "Keys (unknown keys and values are reported and skipped or defaulted):\n",
               program, program);
  const int indent = 25;  // "  " and the key padded to 22, then one blank
  for (const setting &row : settings_table()) {
    const bool required = std::strcmp(row.default_text, "required") == 0;
    std::fprintf(out, "  %-22s ", row.key);
    print_wrapped(out, indent,
                  value_text(row) + (required ? ", required" : std::string(" (default ") + row.default_text + ")"));
    std::fprintf(out, "%*s", indent, "");
    print_wrapped(out, indent, row.help);
  }
  std::fprintf(out,
               "\n"
               "Files, named after output_file with its extension replaced (out.txt gives\n"
               "out.means and so on):\n");
  print_result_files(out);
  std::fprintf(out,
               "A saved model (model_file) is a JSON file; predict_with and init_model read it.\n"
               "Results are all or nothing: each file is written to NAME.mogem-tmp.PID and\n"
               "renamed into place when the run has succeeded, the labels file last; a run\n"
               "that fails or is interrupted leaves the earlier files as they were.\n"
               "\n"
               "Environment:\n"
               "  MOGEM_THREADS   at most this many threads (default: every core); the\n"
               "                  results are the same bytes for any thread count\n"
               "\n"
               "Several processes (a build with -DMOGEM_MPI=ON):\n"
               "  mpirun -np P %s input_file output_file\n"
               "runs one fit over P processes, each reading and holding only its share of\n"
               "the rows; the files, messages and exit code are those of one process, byte\n"
               "for byte, where the processes share the C library and CPU features (a\n"
               "notice says when they do not). The input must be a regular file;\n"
               "predict_with runs as one process only.\n"
               "\n"
               "Exit codes:\n"
               "  0    success\n"
               "  1    a result file cannot be created (checked before the data are read) or\n"
               "       written, the numerics failed, or the fit broke down (not-a-number)\n"
               "  130  interrupted by SIGINT (143: SIGTERM); no result was written\n"
               "  255  (-1) a bad command line, a bad input file (also NaN or infinite data,\n"
               "       a zero-length row under correlation, or an output name that is the\n"
               "       input), or a refused setting\n"
               "\n"
               "Same input, same bytes: every run is exactly reproducible.\n",
               program);
}

int handle_info_option(int argc, char **argv) {
  if (argc != 2) return 0;
  if (std::strcmp(argv[1], "--help") == 0) {
    print_help(stdout, argv[0]);
    return 1;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    print_version(stdout);
    return 1;
  }
  return 0;
}

}  // namespace mogem::detail
