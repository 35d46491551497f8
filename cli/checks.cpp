#include "cli/checks.h"

#include <sys/stat.h>

#include "mogem/mogem.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void refuse_if_input(const char *what, const std::string &name, const std::string &input) {
  if (!same_file(name, input)) return;
  refuse_input(
      "Error: the %s %s is the input file %s; choose another output name so that the input is not overwritten", what,
      name.c_str(), input.c_str());
}

}  // namespace

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void refuse_output_over_input(const std::string &input, const std::string &output) {
  refuse_if_input("output file", output, input);
}

void refuse_outputs_over_input(const std::string &input, const std::string &output, bool output_model,
                               bool output_internal) {
  if (output_model)
    for (const char *ext : {".means", ".variances", ".weights", ".probs"})
      refuse_if_input("model file", result_file_name(output, ext), input);
  if (output_internal) refuse_if_input("data dump", result_file_name(output, ".internal"), input);
}

}  // namespace mogem::detail
