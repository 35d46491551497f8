#include "cli/help.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cli/command_line.h"
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

const char *const command_usages[] = {
    "mogem fit DATA -k K [options]",
    "mogem select DATA [options]",
    "mogem predict MODEL DATA [options]",
};

const char *const command_texts[] = {
    "Fits a mixture of K Gaussians to the rows of DATA and writes each row's class\n"
    "(1..K) to standard output, one a line; on standard error a progress line while\n"
    "it runs (on a terminal) and a summary at the end.\n",
    "Fits every class count and covariance kind asked for (by default 1..9 classes\n"
    "and all four kinds), keeps the one with the lowest criterion (BIC) and writes its\n"
    "labels as mogem fit does; the table of candidates, the choice marked, goes to\n"
    "standard error.\n",
    "Labels the rows of DATA with the saved model MODEL (a .model.json that fit or\n"
    "select wrote with -o): each row's most probable class to standard output. The\n"
    "model's columns are taken by name, in its order, when DATA has them all.\n",
};

}  // namespace

std::string command_names(unsigned commands) {
  std::string text;
  for (command c : {command::fit, command::select, command::predict})
    if (commands & (1u << static_cast<int>(c))) text += (text.empty() ? "" : ", ") + std::string(command_word(c));
  return text;
}

std::vector<flag_entry> flag_entries() {
  std::vector<flag_entry> entries;
  for (const setting &row : all_settings()) {
    const command_flag &f = row.flag;
    if (!f.name) continue;
    const std::string name = (f.letter ? std::string("-") + f.letter + ", --" : std::string("--")) + f.name;
    const std::string help = f.help ? f.help : row.help;
    auto same = std::find_if(entries.begin(), entries.end(),
                             [&](const flag_entry &e) { return e.name == name && e.commands == f.commands; });
    if (same != entries.end()) {  // another row of the same flag: its words and its help join
      for (const char *word : row.words)
        if (!find_setting(word)) same->words.push_back(word), same->values += ", " + std::string(word);
      same->help += "; " + help;
      if (f.face_default) same->default_text = f.face_default;
      continue;
    }
    flag_entry e{name, "", {}, f.commands, f.face_default ? f.face_default : row.default_text, help};
    if (f.switch_word) e.default_text = "off";
    else if (row.kind == value_kind::keyword) {
      e.words.assign(row.words.begin(), row.words.end());
      for (const char *word : row.words) e.values += (e.values.empty() ? "" : ", ") + std::string(word);
    } else {
      e.values = row.kind == value_kind::file_name ? "FILE"
                 : row.kind == value_kind::text    ? row.value_form
                 : row.kind == value_kind::integer ? "N"
                                                   : "X";
    }
    entries.push_back(e);
  }
  return entries;
}

void print_command_help(std::FILE *out, const char *word) {
  command which = command::fit;
  command_named(word, &which);
  const int c = static_cast<int>(which);
  std::fprintf(out,
               "Usage: %s\n"
               "\n"
               "%s"
               "\n"
               "DATA: a CSV or TSV file (the header and the delimiter detected), a NumPy .npy\n"
               "file, or - for standard input. Every numeric column is used unless --columns\n"
               "says otherwise. With -o PREFIX the results go to files instead, all or nothing.\n"
               "\n"
               "Options (the default in brackets):\n",
               command_usages[c], command_texts[c]);
  const int indent = 8;
  for (const flag_entry &flag : flag_entries()) {
    if (!(flag.commands & (1u << c))) continue;
    std::string values = flag.values;
    if (!flag.words.empty()) {
      values.clear();
      for (const std::string &word : flag.words) values += (values.empty() ? "" : " | ") + word;
    }
    std::fprintf(out, "  ");
    print_wrapped(out, 4, flag.name + (values.empty() ? "" : " ") + values);
    std::fprintf(out, "%*s", indent, "");
    const bool shown = flag.default_text != "off" && flag.default_text != "none" && flag.default_text != "required";
    print_wrapped(out, indent, flag.help + (shown ? " [" + flag.default_text + "]" : ""));
  }
  std::fprintf(out,
               "  -h, --help\n"
               "        this text\n"
               "\n"
               "Exit codes: 0 done; 1 data that cannot be read, a fit that failed, a result\n"
               "that could not be written; 2 a command line that cannot run (nothing is done;\n"
               "also a --columns name or number the data do not have); 130 (143) interrupted\n"
               "by SIGINT (SIGTERM), no result written.\n");
}

void print_version(std::FILE *out) { std::fprintf(out, "mogem %s\n", MOGEM_VERSION); }

void print_help(std::FILE *out, const char *program) {
  std::fprintf(out,
               "Usage: %s fit DATA -k K [options]         the classes of a CSV or .npy file's rows\n"
               "       %s select DATA [options]           the classes and kind chosen by BIC\n"
               "       %s predict MODEL DATA [options]    rows labelled with a saved model\n"
               "       %s <input_file> <output_file>      the parameter-file form\n"
               "       %s --help | --version\n"
               "\n"
               "Each command has its own --help (mogem fit --help). The parameter-file form\n"
               "runs whenever the first argument names an existing file, so a parameter file\n"
               "called \"fit\" still runs as one.\n"
               "\n"
               "The parameter-file form fits a mixture of Gaussians to the rows of the data\n"
               "matrix in input_file with EM (or annealing EM) and writes each row's most\n"
               "probable class to output_file.\n"
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
               program, program, program, program, program);
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
               "predict_with runs as one process only. A failure, an interrupt or the\n"
               "death of any process ends them all, and no result is written.\n"
               "\n"
               "Exit codes:\n"
               "  0    success\n"
               "  1    a result file cannot be created (checked before the data are read) or\n"
               "       written, the numerics failed, or the fit broke down (not-a-number)\n"
               "  130  interrupted by SIGINT (143: SIGTERM); no result was written\n"
               "  255  (-1) a bad command line, a bad input file (also NaN or infinite data,\n"
               "       NaN being a missing value under missing_values em, a zero-length row\n"
               "       under correlation, or an output name that is the input), or a refused\n"
               "       setting\n"
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
