#include "cli/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/fit_checks.h"
#include "io/nearest_word.h"
#include "io/parameter_section.h"

namespace mogem::detail {

namespace {

unsigned run_bit(command which) {
  return which == command::fit ? FIT_RUN : which == command::select ? SELECT_RUN : PREDICT_RUN;
}

[[noreturn]] void refuse(const std::string &message) { throw usage_error{message}; }

std::string dashed(const setting &row) { return std::string("--") + row.flag.name; }

std::string words_of(const std::vector<const setting *> &rows, std::vector<std::string> *list) {
  std::string text;
  for (const setting *row : rows)
    for (const char *word : row->words) {
      text += (text.empty() ? "" : ", ") + std::string(word);
      list->push_back(word);
    }
  return text;
}

std::string number_text(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// The range a number of the row must lie in: the key's rule where it has one, else the flag's.
void range_of(const setting &row, double *least, double *most) {
  *least = row.rule ? row.least : row.flag.least;
  *most = row.rule ? row.most : row.flag.most;
}

std::string range_text(const setting &row) {
  double least, most;
  range_of(row, &least, &most);
  const std::string kind = row.kind == value_kind::integer ? "a whole number" : "a number";
  if (std::isinf(least) && std::isinf(most)) return kind;
  if (std::isinf(most)) return kind + " of " + number_text(least) + " or more";
  if (row.kind == value_kind::integer && most >= 2147483647.0) return kind + " of " + number_text(least) + " or more";
  return kind + " from " + number_text(least) + " to " + number_text(most);
}

// Refuses a number outside the row's range or not whole.
void check_number(const setting &row, const std::string &flag, const std::string &value) {
  double least, most, number = 0.0;
  range_of(row, &least, &most);
  long whole = 0;
  const bool ok = row.kind == value_kind::integer ? whole_integer(value.c_str(), &whole) && (number = whole, true)
                                                  : whole_real(value.c_str(), &number) && std::isfinite(number);
  if (!ok || number < least || number > most)
    refuse(flag + " is \"" + value + "\"; it must be " + range_text(row));
}

// select's --classes: "A:B" or one count K.
void check_class_range(const std::string &flag, std::string *value) {
  if (value->find(':') == std::string::npos) *value += ":" + *value;
  const std::size_t colon = value->find(':');
  long low = 0, high = 0;
  const bool ok = whole_integer(value->substr(0, colon).c_str(), &low) &&
                  whole_integer(value->substr(colon + 1).c_str(), &high) && low >= 1 && low <= high && high <= 10000;
  if (!ok) refuse(flag + " is \"" + *value + "\"; it must be A:B, two whole numbers with 1 <= A <= B <= 10000, such as 1:9, or one count");
}

// select's --covariance: kinds separated by commas.
void check_kind_list(const std::string &flag, const std::string &value) {
  const setting &kinds = *find_setting("em_type");
  std::vector<std::string> words(kinds.words.begin(), kinds.words.end());
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t comma = std::min(value.find(',', at), value.size());
    const std::string kind = value.substr(at, comma - at);
    if (std::find(words.begin(), words.end(), kind) == words.end())
      refuse(flag + ": \"" + kind + "\" is not a covariance kind (scalar, diagonal, full, tied)" +
             did_you_mean(kind, words));
    at = comma + 1;
  }
}

// Checks the value the flag got and stores it through the row that takes it (of rows sharing a
// flag, the one whose words hold the value; the others go back to the file's default, so that
// the value alone decides).
void store_flag(const std::vector<const setting *> &rows, const std::string &flag, std::string value,
                section_settings &s) {
  const setting *row = rows.front();
  if (row->kind == value_kind::keyword) {
    row = nullptr;
    for (const setting *r : rows)
      for (const char *word : r->words)
        if (value == word) row = r;
    if (!row) {
      std::vector<std::string> list;
      const std::string all = words_of(rows, &list);
      refuse(flag + " is \"" + value + "\"; it must be one of " + all + did_you_mean(value, list));
    }
    for (const setting *other : rows)
      if (other != row) other->store(s, other->default_text);
  } else if (row->kind == value_kind::integer || row->kind == value_kind::real) {
    check_number(*row, flag, value);
  } else if (value.empty()) {
    refuse(flag + " needs a value");
  }
  if (row->key && std::strcmp(row->key, "select_classes") == 0) check_class_range(flag, &value);
  if (row->key && std::strcmp(row->key, "select_em_types") == 0) check_kind_list(flag, value);
  row->store(s, value.c_str());
}

// The defaults of the command: the file's, then the rows' face defaults.
section_settings defaults_of(command which) {
  section_settings s;
  set_default_parameters(&s);
  for (const setting *row : flags_of(which))
    if (row->flag.face_default) row->store(s, row->flag.face_default);
  return s;
}

// The settings that depend on each other, once every flag is read.
void finish(command_request &r) {
  section_settings &s = r.settings;
  options &o = s.file.settings;
  const auto given = [&](const char *flag) { return r.given.count(flag) > 0; };
  if (!s.command.plot.empty() && r.data_path == "-")
    refuse("--plot reads DATA again to draw it; give a file, not standard input");
  if (s.command.drop_incomplete && o.missing == missing_values::em)
    refuse("--drop-incomplete leaves out the rows with a missing value; --missing em fits them on their observed "
           "values. Give one of them");
  if (r.which == command::predict) return;
  if (given("init-model")) {
    if (given("init")) refuse("--init-model starts from a saved model; --init chooses another start. Give one of them");
    find_setting("init_method")->store(s, "model");
    find_setting("init_params")->store(s, "init_method");
  }
  take_init_params(r.data_path.c_str(), s);
  if (!given("n-init") && !is_random(o.init)) o.restarts = 1;  // a start that draws nothing gives one fit
  if (o.init == initialization::saved_model && !given("init-model"))
    refuse("--init model starts from a saved model; give it with --init-model FILE");
  if (o.init == initialization::means_file && !given("means"))
    refuse("--init file starts from the means of a file; give it with --means FILE");
  if (given("means") && o.init != initialization::means_file)
    refuse("--means is the file of --init file; add --init file, or leave --means out");
  if (r.which == command::fit && !given("classes") && !given("init-model"))
    refuse("the number of classes is needed: --classes K (-k K); mogem select chooses it");
  if (r.which == command::select) {
    s.file.select = true;
    s.file.selection = selection_of(s, "the command line");
  }
  // What no fit can run with, before the data are read (a saved model's start needs the data's
  // width and is checked by the fit).
  if (o.init != initialization::saved_model) {
    options checked = o;
    if (r.which == command::select) checked.classes = s.file.selection.min_classes;  // each candidate's
    check_settings(checked, 1);
  }
}

}  // namespace

std::string flag_note(const error &failure) {
  if (failure.setting().empty()) return "";
  const std::string field = "options." + failure.setting();
  for (const setting &row : all_settings())
    if (row.flag.name && std::string(row.sets).compare(0, field.size(), field) == 0 &&
        (row.sets[field.size()] == '\0' || row.sets[field.size()] == ' ' || row.sets[field.size()] == ','))
      return "\n(" + failure.setting() + " is --" + row.flag.name + " on the command line)";
  return "";
}

bool command_named(const char *word, command *which) {
  for (command c : {command::fit, command::select, command::predict})
    if (std::strcmp(word, command_word(c)) == 0) {
      *which = c;
      return true;
    }
  return false;
}

const char *command_word(command which) {
  return which == command::fit ? "fit" : which == command::select ? "select" : "predict";
}

std::vector<const setting *> flags_of(command which) {
  std::vector<const setting *> rows;
  for (const setting &row : all_settings())
    if (row.flag.name && (row.flag.commands & run_bit(which))) rows.push_back(&row);
  return rows;
}

command_request parse_command_line(command which, int argc, char **argv) {
  command_request r;
  r.which = which;
  r.settings = defaults_of(which);
  const std::vector<const setting *> flags = flags_of(which);
  std::vector<std::string> positional;
  for (int a = 1; a < argc; a++) {
    const std::string arg = argv[a];
    if (arg == "--help" || arg == "-h") {
      r.help = true;
      return r;
    }
    if (arg == "--" || arg.size() < 2 || arg[0] != '-') {  // "-" is standard input
      if (arg != "--") positional.push_back(arg);
      continue;
    }
    std::string name, value;
    bool has_value = false;
    std::vector<const setting *> rows;
    if (arg[1] == '-') {
      const std::size_t eq = arg.find('=');
      name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) value = arg.substr(eq + 1), has_value = true;
      for (const setting *row : flags)
        if (name == row->flag.name) rows.push_back(row);
    } else {
      for (const setting *row : flags)
        if (row->flag.letter == arg[1]) rows.push_back(row), name = row->flag.name;
      if (arg.size() > 2) value = arg.substr(2), has_value = true;
    }
    if (rows.empty()) {
      std::vector<std::string> names{"--help"};
      for (const setting *row : flags) names.push_back(dashed(*row));
      std::string known_elsewhere;
      for (const setting &row : all_settings())
        if (row.flag.name && ("--" + std::string(row.flag.name)) == arg.substr(0, arg.find('=')))
          for (command other : {command::fit, command::select, command::predict})
            if (known_elsewhere.empty() && (row.flag.commands & run_bit(other)))
              known_elsewhere = std::string("; it belongs to mogem ") + command_word(other);
      refuse("unknown option " + arg.substr(0, arg.find('=')) +
             (known_elsewhere.empty() ? did_you_mean(arg.substr(0, arg.find('=')), names) : known_elsewhere));
    }
    const std::string flag = dashed(*rows.front());
    if (rows.front()->flag.switch_word) {
      if (has_value) refuse(flag + " takes no value");
      value = rows.front()->flag.switch_word;
    } else if (!has_value) {
      if (a + 1 >= argc) refuse(flag + " needs a value");
      value = argv[++a];
    }
    if (which == command::fit && flag == "--classes" && value.find(':') != std::string::npos)
      refuse("--classes takes one count in mogem fit; to choose among " + value + ", run mogem select DATA -k " + value);
    store_flag(rows, flag, value, r.settings);
    r.given.insert(rows.front()->flag.name);
  }
  const std::size_t wanted = which == command::predict ? 2 : 1;
  const char *what = which == command::predict ? "a saved model and a data file" : "one data file";
  if (positional.size() != wanted)
    refuse(std::string("it takes ") + what + " (\"-\" for standard input), given " +
           std::to_string(positional.size()));
  r.data_path = positional.back();
  if (which == command::predict) r.model_path = positional.front();
  try {
    finish(r);
  } catch (const error &failure) {  // a value the settings' own checks refuse
    refuse(failure.what() + flag_note(failure));
  }
  return r;
}

}  // namespace mogem::detail
