#include "io/parameter_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "distances/metric_codes.h"
#include "engine/run.h"
#include "io/number_stream.h"
#include "engine/model_state.h"
#include "initializations/init_methods.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// A token holds at most this many characters; the reader takes one more to notice a longer one.
constexpr int MAX_TOKEN = 511;

// strtol on the start of the token, clamped to the signed 32-bit range.
int32_t parse_int(const char *value) {
  long v = std::strtol(value, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

double parse_real(const char *value) { return std::strtod(value, nullptr); }

void parse_distance_metric(const char *value, em_parameters *p) {
  if (match(value, "euclidean")) {
    p->distance_metric = EUCLIDEAN;
  } else if (match(value, "correlation")) {
    p->distance_metric = CORRELATION;
  } else if (match(value, "correlation_centered")) {
    p->distance_metric = CORRELATION;
    p->center_data = 1;  // never reset: a later metric keeps the centring
  } else {
    std::fprintf(stderr, "Unsupported distance metric: %s\n", value);
    std::fprintf(stderr, "Defaulting to Euclidean\n");
    p->distance_metric = EUCLIDEAN;
  }
}

void parse_em_type(const char *value, em_parameters *p) {
  if (match(value, "scalar")) {
    p->em_type = SCALAR;
  } else if (match(value, "diagonal")) {
    p->em_type = DIAG;
  } else if (match(value, "full")) {
    p->em_type = FULL;
  } else {
    // The first line has no line break: both messages share one line.
    std::fprintf(stderr, "Unsupported em type: %s", value);
    std::fprintf(stderr, "Defaulting to Diagonal EM\n");
    p->em_type = DIAG;
  }
}

void parse_algorithm(const char *value, em_parameters *p) {
  if (match(value, "em_annealing")) {
    p->algorithm = ALGORITHM_DA_EM;
  } else if (match(value, "em")) {
    p->algorithm = ALGORITHM_EM;
  } else if (match(value, "em_mixture_of_t")) {
    p->algorithm = ALGORITHM_EM_MOT;
  } else {
    std::fprintf(stderr, "Unsupported algorithm: %s", value);
    std::fprintf(stderr, "Defaulting to EM\n");
    p->algorithm = ALGORITHM_EM;
  }
}

void parse_init_method(const char *value, em_parameters *p) {
  static const struct {
    const char *name;
    int code;
  } methods[] = {{"church_means", CHURCH_MEANS}, {"random_means", RANDOM_MEANS}, {"random_point", RANDOM_POINT},
                 {"random_range", RANDOM_RANGE}, {"random_sample", RANDOM_SAMPLE}, {"file", FROM_FILE}};
  for (const auto &method : methods) {
    if (match(value, method.name)) {
      p->init_method = method.code;
      return;
    }
  }
  std::fprintf(stderr, "Unsupported mean init method: %s\n", value);
  std::fprintf(stderr, "Defaulting to Church Means\n");
  p->init_method = CHURCH_MEANS;
}

[[noreturn]] void input_error(const char *filename, const char *problem) {
  std::fprintf(stderr, "Error in parameter file %s: %s\n", filename, problem);
  throw run_exit{-1};
}

// The parameter section ended early: say whether the file could not be read at all (a
// directory, an I/O error) or simply ran out.
[[noreturn]] void section_error(const char *filename, FILE *fp, int tokens_read, int pairs_read) {
  char problem[600];
  if (std::ferror(fp)) {
    std::snprintf(problem, sizeof problem, "could not be read (%s)", std::strerror(errno));
  } else if (pairs_read == 0 && tokens_read <= 0) {
    std::snprintf(problem, sizeof problem, "the file is empty; it must hold key/value pairs, then \"begin\" and the data");
  } else if (tokens_read == 1) {
    std::snprintf(problem, sizeof problem, "the file ends after a key that has no value");
  } else {
    std::snprintf(problem, sizeof problem, "the file ends before the \"begin\" pair that starts the data");
  }
  input_error(filename, problem);
}

// The reader cannot size the model without these; each bad one gets its own line.
void check_counts(const char *filename, const em_parameters *p, const bool seen[3]) {
  const struct {
    const char *key;
    int value;
    const char *meaning;
  } counts[] = {{"rows", p->num_data, "the number of data rows"},
                {"cols", p->num_features, "the number of features per row"},
                {"num_clusters", p->num_classes, "the number of classes"}};
  bool bad = false;
  for (int c = 0; c < 3; c++) {
    if (counts[c].value > 0) continue;
    if (seen[c])
      std::fprintf(stderr, "Error in parameter file %s: \"%s\" is %d; it must be a positive integer, %s\n", filename,
                   counts[c].key, counts[c].value, counts[c].meaning);
    else
      std::fprintf(stderr, "Error in parameter file %s: the key \"%s\" is missing; it gives %s\n", filename,
                   counts[c].key, counts[c].meaning);
    bad = true;
  }
  if (bad) throw run_exit{-1};
}

}  // namespace

int match(const char *str1, const char *str2) { return std::strcmp(str1, str2) == 0; }

int parse_bool(const char *str) {
  if (!str) return 0;
  return match(str, "1") || match(str, "yes") || match(str, "true") || match(str, "y");
}

void set_default_parameters(em_parameters *p) {
  *p = em_parameters{};
  p->num_data = 0;
  p->num_features = 0;
  p->max_em_iterations = 0;
  p->num_classes = 0;
  p->distance_metric = EUCLIDEAN;
  p->center_data = 0;
  p->em_type = DIAG;
  p->algorithm = ALGORITHM_EM;
  p->schedule_scalar = 0.9;
  p->init_temp = 10.0;
  p->t = 1.0;
  p->random_seed = 42;
  p->init_method = CHURCH_MEANS;
  p->means_file = nullptr;
  p->samples = 0;
  p->output_model = 0;
  p->output_stepsize = 0;
  p->output_internal = 0;
  p->fast = 0;
  p->fast_tol = 0.0;
  p->output_filename = nullptr;
  p->input_filename = nullptr;
}

int parse_param_pair(const char *key, const char *value, em_parameters *p) {
  if (match(key, "rows")) {
    p->num_data = parse_int(value);
  } else if (match(key, "cols")) {
    p->num_features = parse_int(value);
  } else if (match(key, "max_em_iterations")) {
    p->max_em_iterations = parse_int(value);
  } else if (match(key, "num_clusters")) {
    p->num_classes = parse_int(value);
  } else if (match(key, "distance_metric")) {
    parse_distance_metric(value, p);
  } else if (match(key, "em_type")) {
    parse_em_type(value, p);
  } else if (match(key, "algorithm")) {
    parse_algorithm(value, p);
  } else if (match(key, "schedule_scalar")) {
    p->schedule_scalar = parse_real(value);
  } else if (match(key, "init_temp")) {
    p->init_temp = parse_real(value);
  } else if (match(key, "t")) {
    p->t = parse_real(value);
  } else if (match(key, "random_seed")) {
    p->random_seed = parse_int(value);
  } else if (match(key, "init_method")) {
    parse_init_method(value, p);
  } else if (match(key, "means_file")) {
    char *copy = strdup(value);
    if (!copy) NR_error("allocation failure in strdup()");
    std::free(p->means_file);
    p->means_file = copy;
  } else if (match(key, "num_samples")) {
    p->samples = parse_int(value);
  } else if (match(key, "output_model")) {
    p->output_model = parse_bool(value);
  } else if (match(key, "output_stepsize")) {
    p->output_stepsize = parse_int(value);
  } else if (match(key, "output_internal")) {
    p->output_internal = parse_bool(value);
  } else if (match(key, "fast")) {
    p->fast = 1;
    p->fast_tol = std::fabs(parse_real(value));
  } else if (match(key, "begin")) {
    return 1;
  } else {
    std::fprintf(stderr, "Unsupported parameters: %s\n", key);
  }
  return 0;
}

namespace {

// Reads the parameter section and the data from the open stream into p and a new model
// state, which it stores in *m as soon as it exists so that the caller can release it when
// a fatal input problem ends the run part way.
void read_sections(const char *filename, FILE *fp, em_parameters *p, em_memory **m) {
  // One byte more than a token may hold, so that a longer token is noticed, not cut.
  char str1[MAX_TOKEN + 2];
  char str2[MAX_TOKEN + 2];
  bool seen[3] = {false, false, false};  // rows, cols, num_clusters

  for (int pairs = 0;; pairs++) {
    int tokens = std::fscanf(fp, "%512s %512s", str1, str2);
    if (tokens < 2) section_error(filename, fp, tokens, pairs);
    for (const char *token : {str1, str2}) {
      if (std::strlen(token) > MAX_TOKEN) {
        char problem[200];
        std::snprintf(problem, sizeof problem, "a token is longer than %d characters (it starts with \"%.40s\")",
                      MAX_TOKEN, token);
        input_error(filename, problem);
      }
    }
    seen[0] |= match(str1, "rows");
    seen[1] |= match(str1, "cols");
    seen[2] |= match(str1, "num_clusters");
    if (parse_param_pair(str1, str2, p)) break;
  }
  check_counts(filename, p, seen);

  *m = allocate_em_memory(p);
  double **data = (*m)->data;
  number_stream numbers(fp);
  for (int i = 1; i <= p->num_data; i++) {
    for (int j = 1; j <= p->num_features; j++) {
      const number_status status = numbers.read(&data[i][j]);
      if (status != NUMBER_READ) {
        char message[700];
        std::snprintf(message, sizeof message,
                      "Could not read data from the parameter file %s: row %d, column %d is %s (the file "
                      "must hold %d rows of %d numbers after \"begin\" and its value)\n",
                      filename, i, j, status == NUMBER_MISSING ? "missing" : "not a number", p->num_data, p->num_features);
        (assert)(0, message);
      }
    }
  }
}

}  // namespace

em_memory *read_parameters(const char *filename, const char *output_filename) {
  em_parameters *p = new em_parameters;
  set_default_parameters(p);
  p->output_filename = output_filename;
  p->input_filename = filename;

  FILE *fp = nullptr;
  em_memory *m = nullptr;
  try {
    fp = open_file(filename, "r", filename);
    read_sections(filename, fp, p, &m);
  } catch (const run_exit &) {
    // Leave nothing behind: the caller may be a program that goes on after a failed run.
    if (fp) std::fclose(fp);
    if (m) {
      deallocate_em_memory(m);
      delete m;
    } else {
      std::free(p->means_file);
    }
    delete p;
    throw;
  }

  if (std::fclose(fp) != 0) {
    int error = errno;
    deallocate_em_memory(m);
    release_em_records(m);
    char message[700];
    std::snprintf(message, sizeof message, "Could not close %s, errno is %i (%s)\n", filename, error,
                  std::strerror(error));
    (assert)(0, message);
  }
  return m;
}

}  // namespace mogem::detail
