#include "io/result_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/checks.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

void report_write_failure(em_memory *m, const char *name, int error) {
  std::fprintf(stderr, "Error: could not write the file %s: %s\n", name, std::strerror(error));
  m->output_errors++;
}

// A model value: rounded to single precision first, then fixed notation with six decimals.
void write_value(FILE *fp, double value) { std::fprintf(fp, "%f", static_cast<double>(static_cast<float>(value))); }

void write_matrix(FILE *fp, double **v, int rows, int cols) {
  for (int r = 1; r <= rows; r++) {
    for (int c = 1; c <= cols; c++) {
      if (c > 1) std::fputc('\t', fp);
      write_value(fp, v[r][c]);
    }
    std::fputc('\n', fp);
  }
}

void write_means(em_memory *m, FILE *fp) { write_matrix(fp, m->class_means, m->classes, m->features); }

void write_variances(em_memory *m, FILE *fp) {
  double **v = NR_dmatrix(1, m->classes, 1, m->features);
  class_variances(m, v);
  write_matrix(fp, v, m->classes, m->features);
  NR_free_dmatrix(v, 1, m->classes, 1, m->features);
}

void write_weights(em_memory *m, FILE *fp) {
  for (int r = 1; r <= m->classes; r++) {
    write_value(fp, m->P_j[r]);
    std::fputc('\n', fp);
  }
}

// Posteriors are stored class first; the file is one line per data point.
void write_probs(em_memory *m, FILE *fp) {
  for (int r = 1; r <= m->datapoints; r++) {
    for (int c = 1; c <= m->classes; c++) {
      if (c > 1) std::fputc('\t', fp);
      write_value(fp, m->P_j_x[c][r]);
    }
    std::fputc('\n', fp);
  }
}

void write_model_file(em_memory *m, const char *ext, void (*write)(em_memory *, FILE *)) {
  write_output_file(m, create_filename(m->params->output_filename, ext), ext, write);
}

}  // namespace

void write_output_file(em_memory *m, char *name, const char *what, void (*write)(em_memory *, FILE *)) {
  if (!name) {
    std::fprintf(stderr, "Error: no memory for the name of the %s file\n", what);
    m->output_errors++;
    return;
  }
  FILE *fp = open_output(m, name);
  if (fp) {
    write(m, fp);
    close_output(m, fp, name);
  }
  std::free(name);
}

FILE *open_output(em_memory *m, const char *name) {
  if (same_file(name, m->params->input_filename)) {
    std::fprintf(stderr, "Error: the file %s is the input file; it is not overwritten\n", name);
    m->output_errors++;
    return nullptr;
  }
  FILE *fp = std::fopen(name, "w");
  if (!fp) report_write_failure(m, name, errno);
  return fp;
}

void close_output(em_memory *m, FILE *fp, const char *name) {
  bool failed = std::ferror(fp) != 0;
  int error = failed ? (errno ? errno : EIO) : 0;
  if (std::fclose(fp) != 0 && !failed) {
    failed = true;
    error = errno;
  }
  if (failed) report_write_failure(m, name, error);
}

char *create_filename(const char *base, const char *ext) {
  // Only a dot in the last path component starts an extension: "run.1/labels" keeps its
  // directory and gets "run.1/labels.means".
  const char *last_component = std::strrchr(base, '/');
  last_component = last_component ? last_component + 1 : base;
  const char *dot = std::strrchr(last_component, '.');
  std::size_t keep = dot ? static_cast<std::size_t>(dot - base) : std::strlen(base);
  std::size_t ext_length = std::strlen(ext);
  char *name = static_cast<char *>(std::malloc(keep + ext_length + 1));
  if (!name) return nullptr;
  std::memcpy(name, base, keep);
  std::memcpy(name + keep, ext, ext_length + 1);
  return name;
}

void class_variances(em_memory *m, double **v) {
  const int K = m->classes, F = m->features;
  switch (m->params->em_type) {
    case SCALAR:
      for (int k = 1; k <= K; k++)
        for (int j = 1; j <= F; j++) v[k][j] = m->class_variances.scalar[k];
      break;
    case DIAG:
      for (int k = 1; k <= K; k++)
        for (int j = 1; j <= F; j++) v[k][j] = m->class_variances.diagonal[k][j];
      break;
    case FULL:
      for (int k = 1; k <= K; k++)
        for (int j = 1; j <= F; j++) v[k][j] = m->class_variances.full[k][j][j];
      break;
    default:
      break;
  }
}

void create_all_output_files(em_memory *m) {
  if (!m->params->output_filename) return;
  write_model_file(m, ".means", write_means);
  write_model_file(m, ".variances", write_variances);
  write_model_file(m, ".weights", write_weights);
  write_model_file(m, ".probs", write_probs);
}

void report_results(em_memory *m) {
  em_parameters *p = m->params;
  if (p->output_model == 1) create_all_output_files(m);

  FILE *fp = std::fopen(p->output_filename, "w");
  if (!fp) {
    std::fprintf(stderr, "Error: Could not open results filename ");
    std::fprintf(stderr, "[%s] for writing.\n", p->output_filename);
    std::fprintf(stderr, "Aborting...\n");
    m->output_errors++;
    return;
  }
  for (int i = 1; i <= m->datapoints; i++) std::fprintf(fp, "%i\n", m->classifications[i]);
  close_output(m, fp, p->output_filename);
}

}  // namespace mogem::detail
