// The table of settings held against what it drives: README's and the man page's key tables,
// the defaults of the library's options, the reader and mogem-csv's value check.
#include "io/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "io/parameter_section.h"
#include "support/run_binary.h"

using namespace mogem::detail;

namespace {

// Every option of a fit and every setting of the program, as text, to compare records.
std::string describe(const section_settings &s) {
  const mogem::options &o = s.file.settings;
  const mogem::parameter_file &f = s.file;
  std::ostringstream out;
  out << s.rows << ' ' << s.cols << ' ' << o.classes << ' ' << int(o.covariance) << ' ' << int(o.distance) << ' '
      << o.center << ' ' << int(o.method) << ' ' << o.max_iterations << ' ' << o.schedule_scalar << ' '
      << o.init_temp << ' ' << int(o.init) << ' ' << o.random_seed << ' ' << o.samples << ' ' << o.means_file << '|'
      << o.snapshot_every << ' ' << o.restarts << ' ' << o.convergence_threshold << ' ' << o.reg_covar << ' '
      << o.variance_floor << ' ' << f.output_model << f.output_internal << f.output_summary << ' ' << f.model_file
      << '|' << f.predict_with << '|' << f.init_model << '|' << s.select_classes << '|' << s.select_em_types << '|'
      << s.select_criterion << '|';
  for (const auto &[key, text] : s.held) out << key << '=' << text << ' ';
  return out.str();
}

section_settings with(const char *key, const char *value, std::string *warnings = nullptr) {
  section_settings s;
  set_default_parameters(&s);
  parse_param_pair(key, value, &s, [&](const std::string &w) {
    if (warnings) *warnings += w;
  });
  return s;
}

// The key tables of the documentation: key -> the value column (and the default column).
std::map<std::string, std::pair<std::string, std::string>> readme_keys() {
  std::map<std::string, std::pair<std::string, std::string>> keys;
  std::istringstream lines(source_file("README.md"));
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "| key | values | default | effect |") inside = true;
    if (inside && line.rfind("|", 0) != 0) break;  // the end of the table
    if (!inside || line.rfind("| `", 0) != 0 || line.rfind("| `begin`", 0) == 0) continue;
    std::vector<std::string> cells;
    for (std::size_t at = 2, bar; (bar = line.find(" | ", at)) != std::string::npos; at = bar + 3)
      cells.push_back(line.substr(at, bar - at));
    if (cells.size() < 3) cells.resize(3);
    std::string plain_default;
    for (char c : cells[2])
      if (c != '`') plain_default += c;
    keys[cells[0].substr(1, cells[0].size() - 2)] = {cells[1], plain_default};
  }
  return keys;
}

std::map<std::string, std::string> man_keys() {
  std::map<std::string, std::string> keys;
  const std::string man = source_file("man/mogem.1");
  std::istringstream lines(man.substr(man.find(".SH PARAMETERS"), man.find(".SH OUTPUT FILES") - man.find(".SH PARAMETERS")));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".BI ", 0) != 0 && line.rfind(".BR ", 0) != 0) continue;
    const std::size_t space = line.find(' ', 4);
    const std::string rest = line.substr(space + 1);
    keys[line.substr(4, space - 4)] = rest.size() >= 3 ? rest.substr(2, rest.size() - 3) : rest;  // " text"
  }
  return keys;
}

std::string joined(const setting &row, const char *before, const char *after, const char *between) {
  std::string text;
  for (const char *word : row.words) text += (text.empty() ? "" : between) + std::string(before) + word + after;
  return text;
}

}  // namespace

TEST(SettingsTable, ReadmeAndManPageListEveryKeyWithItsValuesAndDefault) {
  const auto readme = readme_keys();
  const auto man = man_keys();
  std::set<std::string> keys;
  for (const setting &row : settings_table()) {
    keys.insert(row.key);
    std::string readme_values, man_values;
    switch (row.kind) {
      case value_kind::integer: readme_values = man_values = "integer"; break;
      case value_kind::real: readme_values = man_values = "real"; break;
      case value_kind::boolean: readme_values = man_values = "boolean"; break;
      case value_kind::file_name: readme_values = "file name", man_values = "file"; break;
      case value_kind::text: readme_values = std::string("`") + row.value_form + "`", man_values = row.value_form; break;
      case value_kind::keyword:
        readme_values = joined(row, "`", "`", ", "), man_values = joined(row, "", "", " | ");
        break;
    }
    ASSERT_TRUE(readme.count(row.key)) << row.key << " is not in README's key table";
    EXPECT_EQ(readme.at(row.key).first, readme_values) << row.key;
    EXPECT_EQ(readme.at(row.key).second, row.default_text) << row.key;
    ASSERT_TRUE(man.count(row.key)) << row.key << " is not in the man page";
    EXPECT_EQ(man.at(row.key), man_values) << row.key;
  }
  for (const auto &entry : readme) EXPECT_TRUE(keys.count(entry.first)) << entry.first << ": README only";
  for (const auto &entry : man) EXPECT_TRUE(keys.count(entry.first)) << entry.first << ": man page only";
  // The picture README shows is shipped.
  EXPECT_EQ(source_file("examples/iris.png").substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

// The defaults of a file without keys are the library's, but for the class count, which a file
// must give.
TEST(SettingsTable, DefaultsAreTheOptionsDefaults) {
  section_settings defaults, library;
  set_default_parameters(&defaults);
  library.file.settings.classes = 0;
  library.select_criterion = "bic";
  EXPECT_EQ(describe(defaults), describe(library));
  // Storing each row's default changes nothing.
  for (const setting &row : settings_table()) {
    if (row.kind == value_kind::file_name || row.kind == value_kind::text) continue;
    section_settings s = defaults;
    row.store(s, std::string(row.default_text) == "required" ? "0" : row.default_text);
    EXPECT_EQ(describe(s), describe(defaults)) << row.key;
  }
}

// Every key is read without a warning and changes the record; every word of a keyword gives a
// record of its own. (An unknown key or word warns and keeps the default: the params-unknown-
// cases pin those warnings and the runs' bytes.)
TEST(SettingsTable, EveryKeyAndWordIsReadAndLandsSomewhereOfItsOwn) {
  for (const setting &row : settings_table()) {
    std::set<std::string> records;
    const std::vector<const char *> values =
        row.kind == value_kind::keyword   ? row.words
        : row.kind == value_kind::boolean ? std::vector<const char *>{"y", "n"}
                                          : std::vector<const char *>{"7", "0"};
    for (const char *value : values) {
      std::string warnings;
      records.insert(describe(with(row.key, value, &warnings)));
      EXPECT_EQ(warnings, "") << row.key << " " << value;
    }
    if (std::string(row.key) != "t" && std::string(row.key) != "fast") {
      EXPECT_EQ(records.size(), values.size()) << row.key << ": two values give the same record";
    }
  }
  EXPECT_EQ(find_setting("begin"), nullptr);
}

// What the shared cases do not reach: base 10 only, a negative snapshot step read as none,
// reals with trailing characters, hexadecimal reals. (Clamping, strtol prefixes, boolean
// spellings and a later metric keeping the centring are the params- cases' runs.)
TEST(SettingsTable, ValuesAreReadAsTheCLibraryReadsThem) {
  EXPECT_EQ(with("max_em_iterations", "0x10").file.settings.max_iterations, 0);
  EXPECT_EQ(with("output_stepsize", "-5").file.settings.snapshot_every, 0);
  EXPECT_EQ(with("init_temp", "2.5e1x").file.settings.init_temp, 25.0);
  EXPECT_EQ(with("schedule_scalar", "abc").file.settings.schedule_scalar, 0.0);
  EXPECT_EQ(with("schedule_scalar", "0x1p-3").file.settings.schedule_scalar, 0.125);
}

// What mogem-csv accepts to write: whole values of the row's kind, one token each.
TEST(SettingsTable, ValueFitsIsStrict) {
  const std::string long_name(512, 'a');
  const struct {
    const char *key, *value;
    bool ok;
  } cases[] = {
      {"rows", "150", true},         {"rows", "-3", true},          {"rows", "", false},
      {"rows", "12abc", false},      {"rows", "1.5", false},        {"rows", "99999999999999999999", false},
      {"init_temp", "2.5e1", true},  {"init_temp", "2.5x", false},  {"em_type", "full", true},
      {"em_type", "Full", false},    {"means_file", "means.txt", true}, {"means_file", "my means.txt", false},
      {"means_file", long_name.c_str(), false},                     {"variance_floor", "0", true},
  };
  for (const auto &c : cases) EXPECT_EQ(value_fits(*find_setting(c.key), c.value), c.ok) << c.key << " " << c.value;
}
