#include "io/debug_printers.h"

#include "distances/metric_codes.h"

namespace mogem::detail {

namespace {

const char *metric_name(int metric) {
  switch (metric) {
    case EUCLIDEAN: return "Euclidean";
    case CORRELATION: return "Correlation";
    default: return "Unknown";
  }
}

void print_value(FILE *fid, const float value) { std::fprintf(fid, "%.5f ", static_cast<double>(value)); }

}  // namespace

void print_em_memory(em_memory *m) {
  std::fprintf(stderr, "EM Memory Structure:\n");
  std::fprintf(stderr, "  m->features        = %d\n", m->features);
  std::fprintf(stderr, "  m->datapoints      = %d\n", m->datapoints);
  std::fprintf(stderr, "  m->classes         = %d\n", m->classes);
  std::fprintf(stderr, "  p->t               = %6.2f\n", m->params->t);
  std::fprintf(stderr, "  p->schedule_scalar = %6.2f\n", m->params->schedule_scalar);
  std::fprintf(stderr, "  p->init_temp       = %6.2f\n", m->params->init_temp);
  std::fprintf(stderr, "  m->inv_temp        = %6.2f\n", m->inv_temp);
  const int algorithm = m->params->algorithm;
  std::fprintf(stderr, "  m->algorithm       = [%s] (%d)\n",
               algorithm >= 0 && algorithm <= 3 ? algorithm_names[algorithm] : "Unknown", algorithm);
  const int metric = m->params->distance_metric;
  std::fprintf(stderr, "  p->distance_metric = [%s] (%d)\n", metric_name(metric), metric);
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
