#include "io/parameter_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <stdexcept>

#include <new>
#include <vector>

#include "distances/metric_codes.h"
#include "engine/run.h"
#include "initializations/init_methods.h"
#include "engine/kernels/parallel.h"
#include "engine/processes.h"
#include "io/data_pieces.h"
#include "io/number_stream.h"
#include "io/parameter_keys.h"
#include "mogem/files.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// A token holds at most this many characters; the reader takes one more to notice a longer one.
constexpr int MAX_TOKEN = 511;
// Rows read between two calls of the caller's checkpoint.
constexpr int ROWS_PER_CHECKPOINT = 4096;

// strtol on the start of the token, clamped to the signed 32-bit range.
int32_t parse_int(const char *value) {
  long v = std::strtol(value, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

double parse_real(const char *value) { return std::strtod(value, nullptr); }

void say(const warning_sink &warn, const std::string &text) {
  if (warn) warn(text);
}

void parse_distance_metric(const char *value, em_parameters *p, const warning_sink &warn) {
  if (match(value, "euclidean")) {
    p->distance_metric = EUCLIDEAN;
  } else if (match(value, "correlation")) {
    p->distance_metric = CORRELATION;
  } else if (match(value, "correlation_centered")) {
    p->distance_metric = CORRELATION;
    p->center_data = 1;  // never reset: a later metric keeps the centring
  } else {
    say(warn, std::string("Unsupported distance metric: ") + value + "\nDefaulting to Euclidean");
    p->distance_metric = EUCLIDEAN;
  }
}

void parse_em_type(const char *value, em_parameters *p, const warning_sink &warn) {
  if (match(value, "scalar")) {
    p->em_type = SCALAR;
  } else if (match(value, "diagonal")) {
    p->em_type = DIAG;
  } else if (match(value, "full")) {
    p->em_type = FULL;
  } else {
    // No line break after the value: both messages share one line.
    say(warn, std::string("Unsupported em type: ") + value + "Defaulting to Diagonal EM");
    p->em_type = DIAG;
  }
}

void parse_algorithm(const char *value, em_parameters *p, const warning_sink &warn) {
  if (match(value, "em_annealing")) {
    p->algorithm = ALGORITHM_DA_EM;
  } else if (match(value, "em")) {
    p->algorithm = ALGORITHM_EM;
  } else if (match(value, "em_mixture_of_t")) {
    p->algorithm = ALGORITHM_EM_MOT;
  } else {
    say(warn, std::string("Unsupported algorithm: ") + value + "Defaulting to EM");
    p->algorithm = ALGORITHM_EM;
  }
}

void parse_init_method(const char *value, em_parameters *p, const warning_sink &warn) {
  static const struct {
    const char *name;
    int code;
  } methods[] = {{"church_means", CHURCH_MEANS}, {"random_means", RANDOM_MEANS}, {"random_point", RANDOM_POINT},
                 {"random_range", RANDOM_RANGE}, {"random_sample", RANDOM_SAMPLE}, {"file", FROM_FILE},
      {"model", FROM_MODEL}};
  for (const auto &method : methods) {
    if (match(value, method.name)) {
      p->init_method = method.code;
      return;
    }
  }
  say(warn, std::string("Unsupported mean init method: ") + value + "\nDefaulting to Church Means");
  p->init_method = CHURCH_MEANS;
}

[[noreturn]] void input_error(const char *filename, const char *problem) {
  refuse_input("Error in parameter file %s: %s", filename, problem);
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

// The keys added later take only a whole number as their token (io/parameter_keys.h), where the
// older keys take the numeric start of a token; a real must also be finite.
bool finite_real(const std::string &text, double *out) {
  return whole_real(text.c_str(), out) && std::isfinite(*out);
}

[[noreturn]] void bad_value(const char *filename, const char *key, const std::string &value, const char *rule) {
  refuse_input("Error in parameter file %s: \"%s\" is \"%s\"; it must be %s", filename, key, value.c_str(), rule);
}

// The values of the keys that choose and use models, checked once the section is read.
void check_model_keys(const char *filename, em_parameters *p) {
  long restarts = 1;
  if (!p->restarts_text.empty() && (!whole_integer(p->restarts_text.c_str(), &restarts) || restarts < 1 || restarts > 100000))
    bad_value(filename, "num_restarts", p->restarts_text, "a whole number from 1 to 100000");
  p->num_restarts = static_cast<int>(restarts);
  if (!p->threshold_text.empty() && (!finite_real(p->threshold_text, &p->convergence_threshold) ||
                                     p->convergence_threshold < 0.0))
    bad_value(filename, "convergence_threshold", p->threshold_text, "a number of 0 or more (the default is 1e-6)");
  if (!p->reg_covar_text.empty() && (!finite_real(p->reg_covar_text, &p->reg_covar) || p->reg_covar < 0.0))
    bad_value(filename, "reg_covar", p->reg_covar_text, "a number of 0 or more, such as 1e-6");
  if (p->init_method == FROM_MODEL && p->init_model.empty())
    refuse_input("Error in parameter file %s: init_method model needs the key \"init_model\", the saved model to "
                 "start from", filename);
  if (!p->init_model.empty() && p->init_method != FROM_MODEL)
    refuse_input("Error in parameter file %s: \"init_model\" is given, but init_method is not \"model\"; add "
                 "init_method model to start from it", filename);
  const bool selecting = !p->select_classes.empty();
  if (!selecting && (!p->select_em_types.empty() || !p->select_criterion.empty()))
    refuse_input("Error in parameter file %s: select_em_types and select_criterion need select_classes A:B, the "
                 "class counts to choose from", filename);
  if (!p->predict_with.empty()) {
    for (const char *key : {"model_file", "num_restarts", "init_model", "select_classes", "reg_covar",
                            "convergence_threshold"})
      if (std::find(p->keys_given.begin(), p->keys_given.end(), key) != p->keys_given.end())
        refuse_input("Error in parameter file %s: predict_with labels the rows with a saved model and fits nothing; "
                     "\"%s\" belongs to a fit. Remove it, or fit without predict_with", filename, key);
  }
  if (selecting && p->init_method == FROM_MODEL)
    refuse_input("Error in parameter file %s: a selection fits several class counts; init_method model starts "
                 "from one model. Choose another init_method", filename);
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
  std::string problems;
  // A prediction, a selection and a warm start take the class count from elsewhere.
  const bool classes_elsewhere = !p->predict_with.empty() || !p->select_classes.empty() || p->init_method == FROM_MODEL;
  for (int c = 0; c < 3; c++) {
    if (counts[c].value > 0) continue;
    if (c == 2 && classes_elsewhere && !seen[2]) continue;
    char line[800];
    if (seen[c])
      std::snprintf(line, sizeof line, "Error in parameter file %s: \"%s\" is %d; it must be a positive integer, %s",
                    filename, counts[c].key, counts[c].value, counts[c].meaning);
    else
      std::snprintf(line, sizeof line, "Error in parameter file %s: the key \"%s\" is missing; it gives %s", filename,
                    counts[c].key, counts[c].meaning);
    if (!problems.empty()) problems += '\n';
    problems += line;
  }
  if (!problems.empty()) throw error(error::kind::invalid_input, problems).with_own_heading();
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
  p->samples = 0;
  p->output_model = 0;
  p->output_stepsize = 0;
  p->output_internal = 0;
  p->fast = 0;
  p->fast_tol = 0.0;
  p->convergence_threshold = 1e-6;
  p->reg_covar = 0.0;
  p->num_restarts = 1;
  p->output_summary = 0;
}

int parse_param_pair(const char *key, const char *value, em_parameters *p, const warning_sink &warn) {
  if (match(key, "rows")) {
    p->num_data = parse_int(value);
  } else if (match(key, "cols")) {
    p->num_features = parse_int(value);
  } else if (match(key, "max_em_iterations")) {
    p->max_em_iterations = parse_int(value);
  } else if (match(key, "num_clusters")) {
    p->num_classes = parse_int(value);
  } else if (match(key, "distance_metric")) {
    parse_distance_metric(value, p, warn);
  } else if (match(key, "em_type")) {
    parse_em_type(value, p, warn);
  } else if (match(key, "algorithm")) {
    parse_algorithm(value, p, warn);
  } else if (match(key, "schedule_scalar")) {
    p->schedule_scalar = parse_real(value);
  } else if (match(key, "init_temp")) {
    p->init_temp = parse_real(value);
  } else if (match(key, "t")) {
    p->t = parse_real(value);
  } else if (match(key, "random_seed")) {
    p->random_seed = parse_int(value);
  } else if (match(key, "init_method")) {
    parse_init_method(value, p, warn);
  } else if (match(key, "means_file")) {
    p->means_file = value;
  } else if (match(key, "num_samples")) {
    p->samples = parse_int(value);
  } else if (match(key, "output_model")) {
    p->output_model = parse_bool(value);
  } else if (match(key, "output_stepsize")) {
    p->output_stepsize = parse_int(value);
  } else if (match(key, "output_internal")) {
    p->output_internal = parse_bool(value);
  } else if (match(key, "output_summary")) {
    p->output_summary = parse_bool(value);
  } else if (match(key, "num_restarts")) {
    p->restarts_text = value;
  } else if (match(key, "convergence_threshold")) {
    p->threshold_text = value;
  } else if (match(key, "reg_covar")) {
    p->reg_covar_text = value;
  } else if (match(key, "model_file")) {
    p->model_file = value;
  } else if (match(key, "predict_with")) {
    p->predict_with = value;
  } else if (match(key, "init_model")) {
    p->init_model = value;
  } else if (match(key, "select_classes")) {
    p->select_classes = value;
  } else if (match(key, "select_em_types")) {
    p->select_em_types = value;
  } else if (match(key, "select_criterion")) {
    p->select_criterion = value;
  } else if (match(key, "fast")) {
    p->fast = 1;
    p->fast_tol = std::fabs(parse_real(value));
  } else if (match(key, "begin")) {
    return 1;
  } else {
    say(warn, std::string("Unsupported parameters: ") + key);
  }
  return 0;
}

namespace {

// The number of values of a rows x cols matrix, or NR_error when its byte count does not fit
// in the address space.
unsigned long long matrix_values(const em_parameters &p) {
  unsigned long long values = 0, bytes = 0;
  if (__builtin_mul_overflow(static_cast<unsigned long long>(p.num_data), static_cast<unsigned long long>(p.num_features),
                             &values) ||
      __builtin_mul_overflow(values, sizeof(double), &bytes))
    NR_error("allocation failure 2 in matrix()");
  return values;
}

// Where the data section lies in the open file: from the stream's position (ftell, not the
// descriptor's offset: the stream has read ahead into its buffer) to the end of the file.
struct data_section {
  bool regular;     // a regular file whose position is known; else begin and end mean nothing
  long long begin;  // the byte after the value of "begin"
  long long end;    // the file's size
};

data_section data_section_of(FILE *fp) {
  struct stat file;
  if (fstat(fileno(fp), &file) != 0 || !S_ISREG(file.st_mode)) return {false, 0, 0};
  const long at = std::ftell(fp);
  if (at < 0) return {false, 0, 0};
  return {true, at, file.st_size > at ? static_cast<long long>(file.st_size) : at};
}

// The most data values the rest of the open file can hold, or ULLONG_MAX when that cannot be
// told (a pipe, a device, a position the stream does not know). A value takes at least one
// character and white space goes before it: the value of "begin" ends only at white space, and
// a one-character value (a digit) can follow another value directly only when that one ends in
// a letter (inf, nan), which takes three characters or more. So n values need 2n bytes.
unsigned long long values_the_rest_can_hold(const data_section &section) {
  if (!section.regular) return ULLONG_MAX;
  return static_cast<unsigned long long>(section.end - section.begin) / 2;
}

// Refuses the input naming the row and column of value `index` (0-based, row by row), which is
// missing or not a number.
[[noreturn]] void value_error(const char *filename, const em_parameters *p, unsigned long long index,
                              number_status status) {
  const unsigned long long row = index / static_cast<unsigned long long>(p->num_features) + 1;
  const unsigned long long column = index % static_cast<unsigned long long>(p->num_features) + 1;
  char message[700];
  std::snprintf(message, sizeof message,
                "Could not read data from the parameter file %s: row %llu, column %llu is %s (the file "
                "must hold %d rows of %d numbers after \"begin\" and its value)\n",
                filename, row, column, status == NUMBER_MISSING ? "missing" : "not a number", p->num_data,
                p->num_features);
  refuse("%s", message);
}

// Reads the rows x cols values row by row, handing each to store, or refuses the input with the
// row and column of the first value that is missing or not a number.
template <typename Store>
void read_values(number_stream &numbers, const char *filename, const em_parameters *p,
                 const std::function<void()> &checkpoint, Store store) {
  for (int i = 1; i <= p->num_data; i++) {
    if (checkpoint && i % ROWS_PER_CHECKPOINT == 0) checkpoint();
    for (int j = 1; j <= p->num_features; j++) {
      double value = 0.0;
      const number_status status = numbers.read(&value);
      if (status != NUMBER_READ)
        value_error(filename, p, static_cast<unsigned long long>(i - 1) * p->num_features + (j - 1), status);
      store(value);
    }
  }
}

// Room for the data matrix, or NR_error when it cannot be held.
std::vector<double> allocate_matrix(unsigned long long values) {
  refuse_beyond_memory(values * sizeof(double), "allocation failure 2 in matrix()");
  std::vector<double> data;
  try {
    data.resize(static_cast<std::size_t>(values));
  } catch (const std::bad_alloc &) {
    NR_error("allocation failure 2 in matrix()");
  } catch (const std::length_error &) {
    NR_error("allocation failure 2 in matrix()");
  }
  return data;
}

// The data matrix, allocated whole, then read.
std::vector<double> read_matrix(number_stream &numbers, unsigned long long values, const char *filename,
                                const em_parameters *p, const std::function<void()> &checkpoint) {
  std::vector<double> data = allocate_matrix(values);
  double *next = data.data();
  read_values(numbers, filename, p, checkpoint, [&](double value) { *next++ = value; });
  return data;
}

// The data matrix from a file too short to hold it: read into storage that grows with what the
// file holds, so that a few bytes asking for a huge matrix cost a few bytes of memory, and the
// first value missing (or not a number) is reported as read_matrix reports it.
std::vector<double> read_short_matrix(number_stream &numbers, const char *filename, const em_parameters *p,
                                      const std::function<void()> &checkpoint) {
  std::vector<double> data;
  try {
    read_values(numbers, filename, p, checkpoint, [&](double value) { data.push_back(value); });
  } catch (const std::bad_alloc &) {
    NR_error("allocation failure 2 in matrix()");
  }
  return data;
}

// The data matrix of a regular file, allocated whole, read in pieces on `threads` threads
// (io/data_pieces.h) with the same numbers and the same first failure as read_matrix.
std::vector<double> read_matrix_in_pieces(const char *filename, const data_section &section,
                                          unsigned long long values, const em_parameters *p, int threads,
                                          const std::function<void()> &checkpoint) {
  std::vector<double> data = allocate_matrix(values);
  double *next = data.data();
  const span_reading read = read_span(
      filename, section.begin, section.end, static_cast<std::size_t>(values), threads,
      [&](const double *got, std::size_t n) { next = std::copy(got, got + n, next); }, checkpoint);
  if (read.stop != NUMBER_READ) value_error(filename, p, read.count, read.stop);
  return data;
}

// This process's share of the data matrix over several processes (read_parameter_file with a
// process_group): the data section cut into one byte range per process, each read in pieces;
// the counts of all ranges tell every process the first failure of the whole section, which
// rows it holds (those whose first value lies in its range) and which values of its last row
// the next processes hold, and those are sent to it.
std::vector<double> read_matrix_share(const char *filename, const data_section &section, unsigned long long values,
                                      const em_parameters *p, int threads, const std::function<void()> &checkpoint,
                                      const process_group &group, std::size_t *first_row) {
  if (!section.regular) input_error(filename, "a run over several processes reads its data from a regular file only");
  const int P = group.size, me = group.rank;
  const unsigned long long D = static_cast<unsigned long long>(p->num_features);
  std::vector<long long> cuts;
  {
    FILE *probe = open_file(filename, "r", filename);
    cuts = cut_into_parts(fileno(probe), section.begin, section.end, P);
    std::fclose(probe);
  }
  row_share processes;  // for failures one process meets (a file it cannot open, memory refused)
  processes.group = &group;
  std::vector<std::vector<double>> pieces;  // the range's numbers as they were read
  span_reading mine{0, NUMBER_MISSING};
  together(processes, [&] {
    mine = read_span(
        filename, cuts[me], cuts[me + 1], static_cast<std::size_t>(values), threads,
        [&](const double *got, std::size_t n) { pieces.emplace_back(got, got + n); }, checkpoint);
  });
  const double told[2] = {static_cast<double>(mine.count), static_cast<double>(mine.stop)};
  std::vector<double> all(2 * static_cast<std::size_t>(P));
  group.gather(told, 2, all.data());

  // Where each range's numbers start among all, up to the first failure, which ends the section.
  std::vector<unsigned long long> start(P + 1, 0);
  bool ended = false;
  for (int r = 0; r < P; r++) {
    const unsigned long long count = ended ? 0 : static_cast<unsigned long long>(all[2 * r]);
    start[r + 1] = std::min(values, start[r] + count);
    const number_status stop = static_cast<number_status>(static_cast<int>(all[2 * r + 1]));
    if (!ended && start[r + 1] < values && (stop == NUMBER_NOT_A_NUMBER || r == P - 1))
      value_error(filename, p, start[r + 1], stop);
    ended = ended || stop == NUMBER_NOT_A_NUMBER || start[r + 1] == values;
  }
  // Process r holds the rows from first[r]: the first row starting in its range.
  std::vector<unsigned long long> first(P + 1);
  for (int r = 0; r <= P; r++) first[r] = (start[r] + D - 1) / D;
  const unsigned long long owned = (first[me + 1] - first[me]) * D;
  std::vector<double> data;
  together(processes, [&] { data = allocate_matrix(owned); });
  // This range's first values finish the row of an earlier process: they go to it.
  const unsigned long long lead = std::min(first[me] * D, start[me + 1]) - start[me];
  std::vector<double> leading;
  unsigned long long at = 0;
  double *next = data.data();
  for (std::vector<double> &piece : pieces) {
    for (double value : piece) {
      if (at < lead)
        leading.push_back(value);
      else if (at - lead < owned)
        *next++ = value;
      at++;
    }
    std::vector<double>().swap(piece);  // each piece goes as soon as it is copied
  }
  if (lead > 0) {
    int owner = me - 1;
    while (first[owner] == first[me]) owner--;
    group.send(leading.data(), leading.size(), owner);
  }
  // The rest of this process's last row, from the ranges after it.
  for (int r = me + 1; r < P && owned > 0 && first[r] == first[me + 1]; r++) {
    const unsigned long long theirs = std::min(first[r] * D, start[r + 1]) - start[r];
    if (theirs == 0) continue;
    group.receive(next, static_cast<std::size_t>(theirs), r);
    next += theirs;
  }
  *first_row = static_cast<std::size_t>(first[me]);
  return data;
}

// The rows handed over a block at a time, never held whole.
void stream_matrix(number_stream &numbers, const char *filename, const em_parameters *p,
                   const std::function<void()> &checkpoint, const row_sink &on_rows) {
  const std::size_t F = static_cast<std::size_t>(p->num_features);
  std::vector<double> block;
  block.reserve(F * ROWS_PER_BLOCK);
  read_values(numbers, filename, p, checkpoint, [&](double value) {
    block.push_back(value);
    if (block.size() == F * ROWS_PER_BLOCK) {
      on_rows(block.data(), ROWS_PER_BLOCK);
      block.clear();
    }
  });
  if (!block.empty()) on_rows(block.data(), block.size() / F);
}

// Reads the parameter section and the data from the open stream.
void read_sections(const char *filename, FILE *fp, em_parameters *p, std::vector<double> *data,
                   const warning_sink &warn, const std::function<void(const em_parameters &)> &on_parameters,
                   const std::function<void()> &checkpoint,
                   const std::function<bool(const em_parameters &)> &stream_rows, const row_sink &on_rows, int threads,
                   const process_group *group, std::size_t *first_row) {
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
    if (parse_param_pair(str1, str2, p, warn)) break;
    p->keys_given.push_back(str1);
  }
  check_counts(filename, p, seen);
  check_model_keys(filename, p);
  if (on_parameters) on_parameters(*p);

  const unsigned long long values = matrix_values(*p);
  const data_section section = data_section_of(fp);
  const bool streaming = stream_rows && on_rows && stream_rows(*p);
  if (group && group->size > 1 && !streaming) {
    *data = read_matrix_share(filename, section, values, p, threads, checkpoint, *group, first_row);
    return;
  }
  if (!streaming && section.regular && values <= static_cast<unsigned long long>(section.end - section.begin) / 2) {
    *data = read_matrix_in_pieces(filename, section, values, p, threads, checkpoint);
    return;
  }
  number_stream numbers(fp);
  if (streaming) {
    stream_matrix(numbers, filename, p, checkpoint, on_rows);
    return;
  }
  *data = values <= values_the_rest_can_hold(section) ? read_matrix(numbers, values, filename, p, checkpoint)
                                                      : read_short_matrix(numbers, filename, p, checkpoint);
}

}  // namespace

void read_parameters(const char *filename, em_parameters *p, std::vector<double> *data, const warning_sink &warn,
                     const std::function<void(const em_parameters &)> &on_parameters,
                     const std::function<void()> &checkpoint,
                     const std::function<bool(const em_parameters &)> &stream_rows, const row_sink &on_rows,
                     int threads, const process_group *group, std::size_t *first_row) {
  set_default_parameters(p);
  FILE *fp = open_file(filename, "r", filename);
  try {
    read_sections(filename, fp, p, data, warn, on_parameters, checkpoint, stream_rows, on_rows, threads, group,
                  first_row);
  } catch (...) {
    std::fclose(fp);
    throw;
  }
  if (std::fclose(fp) != 0) {
    int error = errno;
    char message[700];
    std::snprintf(message, sizeof message, "Could not close %s, errno is %i (%s)\n", filename, error,
                  std::strerror(error));
    (assert)(0, message);
  }
}

}  // namespace mogem::detail

namespace mogem {

namespace {

options options_of(const detail::em_parameters &p, const std::string &path) {
  options o;
  o.classes = p.num_classes;
  o.covariance = p.em_type == detail::SCALAR ? covariance_kind::scalar
                 : p.em_type == detail::FULL ? covariance_kind::full
                                             : covariance_kind::diagonal;
  o.distance = p.distance_metric == detail::CORRELATION ? metric::correlation : metric::euclidean;
  o.center = p.center_data != 0;
  o.method = p.algorithm == detail::ALGORITHM_DA_EM  ? algorithm::annealing
             : p.algorithm == detail::ALGORITHM_EM_MOT ? algorithm::mixture_of_t
                                                      : algorithm::em;
  o.max_iterations = p.max_em_iterations;
  o.schedule_scalar = p.schedule_scalar;
  o.init_temp = p.init_temp;
  static const initialization inits[] = {initialization::church_means, initialization::random_means,
                                         initialization::random_point, initialization::random_range,
                                         initialization::random_sample, initialization::means_file,
                                         initialization::saved_model};
  o.init = inits[p.init_method - detail::CHURCH_MEANS];
  o.random_seed = p.random_seed;
  o.samples = p.samples;
  if (o.init == initialization::means_file) o.start = means_file_start{p.means_file};
  o.snapshot_every = p.output_stepsize > 0 ? p.output_stepsize : 0;
  o.data_name = path;
  o.restarts = p.num_restarts;
  o.convergence_threshold = p.convergence_threshold;
  o.reg_covar = p.reg_covar;
  return o;
}

// select_classes "A:B", select_em_types "kind,kind,..." and select_criterion, or a refusal
// naming the key.
selection_settings selection_of(const detail::em_parameters &p, const std::string &path) {
  auto refuse = [&](const char *key, const std::string &value, const char *rule) {
    throw error(error::kind::invalid_input, "Error in parameter file " + path + ": \"" + key + "\" is \"" + value +
                                                "\"; it must be " + rule)
        .with_own_heading();
  };
  selection_settings s;
  const std::string &range = p.select_classes;
  const std::size_t colon = range.find(':');
  char *end = nullptr;
  long low = 0, high = 0;
  bool ok = colon != std::string::npos && colon > 0 && colon + 1 < range.size();
  if (ok) {
    low = std::strtol(range.c_str(), &end, 10);
    ok = end == range.c_str() + colon;
  }
  if (ok) {
    high = std::strtol(range.c_str() + colon + 1, &end, 10);
    ok = *end == '\0';
  }
  if (!ok || low < 1 || high < low || high > 10000)
    refuse("select_classes", range, "A:B, two whole numbers with 1 <= A <= B <= 10000, such as 1:9");
  s.min_classes = static_cast<int>(low);
  s.max_classes = static_cast<int>(high);
  const std::string &list = p.select_em_types;
  for (std::size_t at = 0; !list.empty() && at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    const std::string kind = list.substr(at, comma - at);
    if (kind == "scalar") s.kinds.push_back(covariance_kind::scalar);
    else if (kind == "diagonal") s.kinds.push_back(covariance_kind::diagonal);
    else if (kind == "full") s.kinds.push_back(covariance_kind::full);
    else refuse("select_em_types", list, "a comma-separated list of scalar, diagonal and full, such as scalar,full");
    at = comma + 1;
  }
  const std::string &by = p.select_criterion;
  if (by.empty() || by == "bic") s.by = criterion::bic;
  else if (by == "aic") s.by = criterion::aic;
  else if (by == "icl") s.by = criterion::icl;
  else refuse("select_criterion", by, "bic, aic or icl");
  return s;
}

// The settings and sizes of a read parameter section, without the data.
parameter_file header_of(const detail::em_parameters &p, const std::string &path) {
  parameter_file file;
  file.settings = options_of(p, path);
  file.output_model = p.output_model == 1;
  file.output_internal = p.output_internal == 1;
  file.rows = static_cast<std::size_t>(p.num_data);
  file.cols = static_cast<std::size_t>(p.num_features);
  file.output_summary = p.output_summary == 1;
  file.model_file = p.model_file;
  file.predict_with = p.predict_with;
  file.init_model = p.init_model;
  file.select = !p.select_classes.empty();
  if (file.select) file.selection = selection_of(p, path);
  file.keys = p.keys_given;
  return file;
}

}  // namespace

namespace {

parameter_file read_file(const std::string &path, const reader_callbacks &hooks, const process_group *group) {
  detail::em_parameters p;
  std::vector<double> data;
  std::size_t first_row = 0;
  std::function<void(const detail::em_parameters &)> on_parameters;
  if (hooks.on_parameters)
    on_parameters = [&](const detail::em_parameters &read) { hooks.on_parameters(header_of(read, path)); };
  std::function<bool(const detail::em_parameters &)> stream_rows;
  if (hooks.stream_rows)
    stream_rows = [&](const detail::em_parameters &read) { return hooks.stream_rows(header_of(read, path)); };
  detail::read_parameters(path.c_str(), &p, &data, hooks.warning, on_parameters, hooks.checkpoint, stream_rows,
                          hooks.on_rows, detail::threads_for(hooks.threads), group, &first_row);
  parameter_file file = header_of(p, path);
  file.data = std::move(data);
  file.first_row = first_row;
  return file;
}

}  // namespace

parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks) {
  return read_file(path, hooks, nullptr);
}

parameter_file read_parameter_file(const std::string &path, const reader_callbacks &hooks,
                                   const process_group &group) {
  return read_file(path, hooks, &group);
}

parameter_file read_parameter_file(const std::string &path, const std::function<void(const std::string &)> &warn) {
  reader_callbacks hooks;
  hooks.warning = warn;
  return read_parameter_file(path, hooks);
}

}  // namespace mogem
