#include "cli/checks.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/result_files.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void refuse_if_input(const char *what, const char *name, const char *input) {
  if (!same_file(name, input)) return;
  std::fprintf(stderr,
               "Error: the %s %s is the input file %s; choose another output name so that the input is not "
               "overwritten\n",
               what, name, input);
  throw run_exit{-1};
}

void refuse_derived_name(const em_parameters *p, const char *ext, const char *what) {
  char *made = create_filename(p->output_filename, ext);
  if (!made) return;  // reported when the file is written
  const std::string name = made;
  std::free(made);
  refuse_if_input(what, name.c_str(), p->input_filename);
}

}  // namespace

int same_file(const char *a, const char *b) {
  struct stat sa, sb;
  if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void refuse_non_finite_data(em_memory *m) {
  for (int i = 1; i <= m->datapoints; i++) {
    for (int j = 1; j <= m->features; j++) {
      const double value = m->data[i][j];
      if (std::isfinite(value)) continue;
      std::fprintf(stderr,
                   "Error: the data of %s hold %s at row %d, column %d; every value must be a finite number\n",
                   m->params->input_filename ? m->params->input_filename : "the input file",
                   std::isnan(value) ? "a NaN" : "an infinite value", i, j);
      throw run_exit{-1};
    }
  }
}

void refuse_output_over_input(const char *input, const char *output) {
  refuse_if_input("output file", output, input);
}

void refuse_outputs_over_input(em_memory *m) {
  const em_parameters *p = m->params;
  if (!p->input_filename || !p->output_filename) return;
  if (p->output_model == 1)
    for (const char *ext : {".means", ".variances", ".weights", ".probs"}) refuse_derived_name(p, ext, "model file");
  if (p->output_internal == 1) refuse_derived_name(p, ".internal", "data dump");
}

}  // namespace mogem::detail
