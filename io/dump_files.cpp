#include "io/dump_files.h"

#include "distances/metric_codes.h"
#include "engine/em_classify.h"
#include "io/result_files.h"
#include "nr/nr_scoped.h"

namespace mogem::detail {

namespace {

// A snapshot value: single precision first, then "%4.4f".
void write_snapshot_matrix(FILE *fp, double **v, int rows, int cols) {
  for (int r = 1; r <= rows; r++) {
    for (int c = 1; c <= cols; c++) {
      if (c > 1) std::fputc('\t', fp);
      std::fprintf(fp, "%4.4f", static_cast<double>(static_cast<float>(v[r][c])));
    }
    std::fputc('\n', fp);
  }
}

void write_snapshot_means(em_memory *m, FILE *fp) {
  write_snapshot_matrix(fp, m->class_means, m->classes, m->features);
}

void write_snapshot_variances(em_memory *m, FILE *fp) {
  scoped_dmatrix variances(1, m->classes, 1, m->features);
  class_variances(m, variances.get());
  write_snapshot_matrix(fp, variances.get(), m->classes, m->features);
}

void write_snapshot_labels(em_memory *m, FILE *fp) {
  find_classifications(m);
  for (int i = 1; i <= m->datapoints; i++) std::fprintf(fp, "%d\n", m->classifications[i]);
}

void write_data(em_memory *m, FILE *fp) {
  for (int i = 1; i <= m->datapoints; i++) {
    if (i > 1) std::fputc('\n', fp);
    for (int j = 1; j <= m->features; j++) {
      if (j > 1) std::fputc('\t', fp);
      std::fprintf(fp, "%f", m->data[i][j]);
    }
  }
}

bool has_output_name(em_memory *m) { return m && m->params && m->params->output_filename; }

const char *metric_name(int metric) {
  switch (metric) {
    case EUCLIDEAN: return "Euclidean";
    case CORRELATION: return "Correlation";
    default: return "Unknown";
  }
}

void print_value(FILE *fid, const float value) { std::fprintf(fid, "%.5f ", static_cast<double>(value)); }

}  // namespace

void dumpdata(em_memory *m) {
  if (!has_output_name(m)) return;
  write_output_file(m, create_filename(m->params->output_filename, ".internal"), "data", write_data);
}

void dumpvars(em_memory *m, int step) {
  if (!has_output_name(m)) return;
  char means_ext[32], variances_ext[32], labels_ext[32];
  std::snprintf(means_ext, sizeof means_ext, "%05d.means", step);
  std::snprintf(variances_ext, sizeof variances_ext, "%05d.variances", step);
  std::snprintf(labels_ext, sizeof labels_ext, "%05d.labels", step);
  const char *base = m->params->output_filename;
  char *means_name = create_filename(base, means_ext);
  char *variances_name = create_filename(base, variances_ext);
  char *labels_name = create_filename(base, labels_ext);
  write_output_file(m, means_name, "means snapshot", write_snapshot_means);
  write_output_file(m, variances_name, "variances snapshot", write_snapshot_variances);
  write_output_file(m, labels_name, "labels snapshot", write_snapshot_labels);
}

void print_em_memory(em_memory *m) {
  std::fprintf(stderr, "EM Memory Structure:\n");
  std::fprintf(stderr, "  m->features        = %d\n", m->features);
  std::fprintf(stderr, "  m->datapoints      = %d\n", m->datapoints);
  std::fprintf(stderr, "  m->classes         = %d\n", m->classes);
  std::fprintf(stderr, "  m->t               = %6.2f\n", m->t);
  std::fprintf(stderr, "  m->schedule_scalar = %6.2f\n", m->schedule_scalar);
  std::fprintf(stderr, "  m->init_temp       = %6.2f\n", m->init_temp);
  std::fprintf(stderr, "  m->inv_temp        = %6.2f\n", m->inv_temp);
  const int algorithm = m->params->algorithm;
  std::fprintf(stderr, "  m->algorithm       = [%s] (%d)\n",
               algorithm >= 0 && algorithm <= 3 ? algorithm_names[algorithm] : "Unknown", algorithm);
  std::fprintf(stderr, "  m->distance_metric = [%s] (%d)\n", metric_name(m->distance_metric), m->distance_metric);
  std::fprintf(stderr, "\n");
}

void print_2d_array(double **array, int r, int c, FILE *fid, const char *string) {
  std::fprintf(fid, "----START %s\n", string);
  for (int i = 1; i <= r; i++) {
    for (int j = 1; j <= c; j++) print_value(fid, static_cast<float>(array[i][j]));
    std::fprintf(fid, "\n");
  }
  std::fprintf(fid, "\n----STOP %s\n", string);
}

void print_2d_array_transpose(double **array, int r, int c, FILE *fid, const char *string) {
  std::fprintf(fid, "----START %s\n", string);
  for (int j = 1; j <= c; j++) {
    for (int i = 1; i <= r; i++) print_value(fid, static_cast<float>(array[i][j]));
    std::fprintf(fid, "\n");
  }
  std::fprintf(fid, "\n----STOP %s\n", string);
}

void print_2d_float_array(float **array, int r, int c, FILE *fid, const char *string) {
  std::fprintf(fid, "----START %s\n", string);
  for (int i = 1; i <= r; i++) {
    for (int j = 1; j <= c; j++) print_value(fid, array[i][j]);
    std::fprintf(fid, "\n");
  }
  std::fprintf(fid, "\n----STOP %s\n", string);
}

void print_1d_array(double *array, int c, FILE *fid, const char *string) {
  std::fprintf(fid, "----START %s\n", string);
  for (int j = 1; j <= c; j++) print_value(fid, static_cast<float>(array[j]));
  std::fprintf(fid, "\n");
  std::fprintf(fid, "\n----STOP %s\n", string);
}

}  // namespace mogem::detail
