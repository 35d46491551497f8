#include "io/parameter_section.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// A token holds at most this many characters; the reader takes one more to notice a longer one.
constexpr int MAX_TOKEN = 511;

[[noreturn]] void input_error(const char *filename, const char *problem) {
  refuse_input("Error in parameter file %s: %s", filename, problem);
}

// The parameter section ended early: say whether the file could not be read at all (a
// directory, an I/O error) or simply ran out.
[[noreturn]] void section_error(const char *filename, FILE *fp, int tokens_read, int pairs_read) {
  char problem[600];
  if (std::ferror(fp))
    std::snprintf(problem, sizeof problem, "could not be read (%s)", std::strerror(errno));
  else if (pairs_read == 0 && tokens_read <= 0)
    std::snprintf(problem, sizeof problem, "the file is empty; it must hold key/value pairs, then \"begin\" and the data");
  else if (tokens_read == 1)
    std::snprintf(problem, sizeof problem, "the file ends after a key that has no value");
  else
    std::snprintf(problem, sizeof problem, "the file ends before the \"begin\" pair that starts the data");
  input_error(filename, problem);
}

bool given(const parameter_file &file, const char *key) {
  return std::find(file.keys.begin(), file.keys.end(), key) != file.keys.end();
}

// The reader cannot size the model without these; each bad one gets its own line.
void check_counts(const char *filename, const section_settings &s) {
  const parameter_file &f = s.file;
  const struct {
    const char *key;
    int value;
    const char *meaning;
  } counts[] = {{"rows", s.rows, "the number of data rows"},
                {"cols", s.cols, "the number of features per row"},
                {"num_clusters", f.settings.classes, "the number of classes"}};
  std::string problems;
  // A prediction, a selection and a warm start take the class count from elsewhere.
  const bool classes_elsewhere = !f.predict_with.empty() || !s.select_classes.empty() ||
                                 f.settings.init == initialization::saved_model;
  for (int c = 0; c < 3; c++) {
    const bool seen = given(f, counts[c].key);
    if (counts[c].value > 0 || (c == 2 && classes_elsewhere && !seen)) continue;
    char line[800];
    if (seen)
      std::snprintf(line, sizeof line, "Error in parameter file %s: \"%s\" is %d; it must be a positive integer, %s",
                    filename, counts[c].key, counts[c].value, counts[c].meaning);
    else
      std::snprintf(line, sizeof line, "Error in parameter file %s: the key \"%s\" is missing; it gives %s", filename,
                    counts[c].key, counts[c].meaning);
    problems += (problems.empty() ? "" : "\n") + std::string(line);
  }
  if (!problems.empty()) throw error(error::kind::invalid_input, problems).with_own_heading();
}

[[noreturn]] void bad_value(const char *filename, const char *key, const std::string &value, const char *rule) {
  refuse_input("Error in parameter file %s: \"%s\" is \"%s\"; it must be %s", filename, key, value.c_str(), rule);
}

// The values held for their rules, in the order of the table: one of a keyword's words; a number
// whole, finite, within bounds.
void check_held(const char *filename, section_settings &s) {
  for (const setting &row : settings_table()) {
    const auto held = s.held.find(row.key);
    if (!row.rule || held == s.held.end()) continue;
    const char *text = held->second.c_str();
    long whole = 0;
    double number = 0.0;
    if (row.kind == value_kind::keyword) {  // one of its words
      if (!value_fits(row, text)) bad_value(filename, row.key, held->second, row.rule);
      row.store(s, text);
      continue;
    }
    const bool ok = row.kind == value_kind::integer ? whole_integer(text, &whole) && (number = whole, true)
                                                    : whole_real(text, &number) && std::isfinite(number);
    if (!ok || number < row.least || number > row.most) bad_value(filename, row.key, held->second, row.rule);
    row.store(s, text);
  }
}

// The keys that choose and use models, which must go together.
void check_model_keys(const char *filename, const section_settings &s) {
  const parameter_file &f = s.file;
  const bool from_model = f.settings.init == initialization::saved_model;
  if (from_model && f.init_model.empty())
    refuse_input("Error in parameter file %s: init_method model needs the key \"init_model\", the saved model to "
                 "start from", filename);
  if (!f.init_model.empty() && !from_model)
    refuse_input("Error in parameter file %s: \"init_model\" is given, but init_method is not \"model\"; add "
                 "init_method model to start from it", filename);
  const bool selecting = !s.select_classes.empty();
  if (!selecting && (given(f, "select_em_types") || given(f, "select_criterion")))
    refuse_input("Error in parameter file %s: select_em_types and select_criterion need select_classes A:B, the "
                 "class counts to choose from", filename);
  if (!f.predict_with.empty())
    for (const setting &row : settings_table())
      if (!(row.runs & PREDICT_RUN) && given(f, row.key))
        refuse_input("Error in parameter file %s: predict_with labels the rows with a saved model and fits nothing; "
                     "\"%s\" belongs to a fit. Remove it, or fit without predict_with", filename, row.key);
  if (selecting && from_model)
    refuse_input("Error in parameter file %s: a selection fits several class counts; init_method model starts "
                 "from one model. Choose another init_method", filename);
}

// Reads the pairs up to "begin" into s.
void read_pairs(FILE *fp, const char *filename, section_settings &s, const warning_sink &warn) {
  // One byte more than a token may hold, so that a longer token is noticed, not cut.
  char key[MAX_TOKEN + 2];
  char value[MAX_TOKEN + 2];
  for (int pairs = 0;; pairs++) {
    const int tokens = std::fscanf(fp, "%512s %512s", key, value);
    if (tokens < 2) section_error(filename, fp, tokens, pairs);
    for (const char *token : {key, value}) {
      if (std::strlen(token) <= MAX_TOKEN) continue;
      char problem[200];
      std::snprintf(problem, sizeof problem, "a token is longer than %d characters (it starts with \"%.40s\")",
                    MAX_TOKEN, token);
      input_error(filename, problem);
    }
    if (parse_param_pair(key, value, &s, warn)) return;
    s.file.keys.push_back(key);
  }
}

}  // namespace

// init_params, when it names a start, in place of init_method.
void take_init_params(const char *filename, section_settings &s) {
  using i = initialization;
  const std::string &word = s.init_params;
  if (word == "init_method") return;
  options &o = s.file.settings;
  if (word == "kmeans") o.init = i::kmeans;
  else if (word == "k-means++") o.init = i::kmeans_plus_plus;
  else if (word == "random_responsibilities") o.init = i::random_responsibilities;
  else if (word == "random_from_data") o.init = i::random_from_data;
  else bad_value(filename, "init_params", word, "init_method, kmeans, k-means++, random_responsibilities or random_from_data");
}

// select_classes "A:B", select_em_types "kind,kind,..." and select_criterion, or a refusal
// naming the key.
selection_settings selection_of(const section_settings &s, const char *filename) {
  selection_settings out;
  const std::string &range = s.select_classes;
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
    bad_value(filename, "select_classes", range, "A:B, two whole numbers with 1 <= A <= B <= 10000, such as 1:9");
  out.min_classes = static_cast<int>(low);
  out.max_classes = static_cast<int>(high);
  const std::string &list = s.select_em_types;
  for (std::size_t at = 0; !list.empty() && at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    const std::string kind = list.substr(at, comma - at);
    if (kind == "scalar") out.kinds.push_back(covariance_kind::scalar);
    else if (kind == "diagonal") out.kinds.push_back(covariance_kind::diagonal);
    else if (kind == "full") out.kinds.push_back(covariance_kind::full);
    else if (kind == "tied") out.kinds.push_back(covariance_kind::tied);
    else bad_value(filename, "select_em_types", list, "a comma-separated list of scalar, diagonal, full and tied, such as scalar,full");
    at = comma + 1;
  }
  const std::string &by = s.select_criterion;
  if (by == "bic") out.by = criterion::bic;
  else if (by == "aic") out.by = criterion::aic;
  else if (by == "icl") out.by = criterion::icl;
  else bad_value(filename, "select_criterion", by, "bic, aic or icl");
  return out;
}

int match(const char *str1, const char *str2) { return std::strcmp(str1, str2) == 0; }

int parse_bool(const char *str) {
  if (!str) return 0;
  return match(str, "1") || match(str, "yes") || match(str, "true") || match(str, "y");
}

void set_default_parameters(section_settings *s) {
  *s = section_settings{};
  for (const setting &row : settings_table())
    if (row.kind != value_kind::file_name && row.kind != value_kind::text)  // those default to none
      row.store(*s, match(row.default_text, "required") ? "0" : row.default_text);
}

int parse_param_pair(const char *key, const char *value, section_settings *s, const warning_sink &warn) {
  if (match(key, "begin")) return 1;
  const setting *row = find_setting(key);
  if (!row) {
    if (warn) warn(std::string("Unsupported parameters: ") + key);
    return 0;
  }
  if (row->rule) {
    s->held[key] = value;
    return 0;
  }
  if (row->kind == value_kind::keyword && row->unknown_before &&
      std::none_of(row->words.begin(), row->words.end(), [&](const char *word) { return match(word, value); })) {
    if (warn) warn(row->unknown_before + std::string(value) + row->unknown_after);
    value = row->default_text;
  }
  row->store(*s, value);
  return 0;
}

parameter_file read_parameter_section(FILE *fp, const char *filename, const warning_sink &warn) {
  section_settings s;
  set_default_parameters(&s);
  read_pairs(fp, filename, s, warn);
  check_counts(filename, s);
  check_held(filename, s);
  take_init_params(filename, s);
  check_model_keys(filename, s);
  parameter_file &file = s.file;
  file.settings.data_name = filename;
  file.rows = static_cast<std::size_t>(s.rows);
  file.cols = static_cast<std::size_t>(s.cols);
  file.select = !s.select_classes.empty();
  if (file.select) file.selection = selection_of(s, filename);
  return std::move(file);
}

}  // namespace mogem::detail
