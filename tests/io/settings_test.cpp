// The table of settings held against what it drives: README's and the man page's key tables,
// the defaults of the library's options, the reader and mogem-csv's value check.
#include "io/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include "cli/help.h"
#include "io/parameter_section.h"
#include "support/run_binary.h"

using namespace mogem::detail;

namespace {

// The means file the start names, empty when it names none.
std::string means_file_of(const mogem::options &o) {
  const auto *file = std::get_if<mogem::means_file_start>(&o.start);
  return file ? file->path : "";
}

// Every option of a fit and every setting of the program, as text, to compare records.
std::string describe(const section_settings &s) {
  const mogem::options &o = s.file.settings;
  const mogem::parameter_file &f = s.file;
  std::ostringstream out;
  out << s.rows << ' ' << s.cols << ' ' << o.classes << ' ' << int(o.covariance) << ' ' << int(o.distance) << ' '
      << o.center << ' ' << int(o.method) << ' ' << o.max_iterations << ' ' << o.schedule_scalar << ' '
      << o.init_temp << ' ' << int(o.init) << ' ' << o.random_seed << ' ' << o.samples << ' ' << means_file_of(o) << '|'
      << o.snapshot_every << ' ' << o.restarts << ' ' << o.convergence_threshold << ' ' << o.reg_covar << ' '
      << o.variance_floor << ' ' << int(o.stop) << ' ' << o.tol << ' ' << f.output_model << f.output_internal << f.output_summary << ' ' << f.model_file
      << '|' << f.predict_with << '|' << f.init_model << '|' << s.select_classes << '|' << s.select_em_types << '|'
      << s.select_criterion << '|' << s.init_params << ' ' << o.kmeans_iterations << ' ' << int(o.missing) << '|';
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

std::size_t occurrences(const std::string &text, const std::string &of) {
  std::size_t n = 0;
  for (std::size_t at = text.find(of); at != std::string::npos; at = text.find(of, at + 1)) n++;
  return n;
}

std::string joined(const setting &row, const char *between) {
  std::string text;
  for (const char *word : row.words) text += (text.empty() ? "" : between) + std::string(word);
  return text;
}

}  // namespace

TEST(SettingsTable, ReadmeAndManPageListEveryKeyWithItsValuesAndDefault) {
  const std::string readme = source_file("README.md"), man = source_file("man/mogem.1");
  const std::size_t from = readme.find("| key | values | default | effect |");
  std::string table = readme.substr(from, readme.find("\n\n", from) - from);
  const std::size_t keys = settings_table().size();
  EXPECT_EQ(occurrences(table, "\n| `"), keys + 1) << "README's key table: one row a key, and begin";
  table.erase(std::remove(table.begin(), table.end(), '`'), table.end());
  const std::size_t section = man.find(".SH PARAMETERS");
  const std::string parameters = man.substr(section, man.find(".SH OUTPUT FILES") - section);
  EXPECT_EQ(occurrences(parameters, "\n.BI ") + occurrences(parameters, "\n.BR "), keys) << "man page";
  for (const setting &row : settings_table()) {
    const char *const words[] = {"integer", "real", "boolean", "", "file name", ""};
    std::string values = words[int(row.kind)], man_values = values == "file name" ? "file" : values;
    if (row.kind == value_kind::text) values = man_values = row.value_form;
    if (row.kind == value_kind::keyword) values = joined(row, ", "), man_values = joined(row, " | ");
    const std::string line = "\n| " + std::string(row.key) + " | " + values + " | " + row.default_text + " |";
    EXPECT_NE(table.find(line), std::string::npos) << line.substr(1) << " is not in README";
    const std::string entry = (row.kind == value_kind::keyword ? "\n.BR " : "\n.BI ") + std::string(row.key) +
                              " \" " + man_values + "\"\n";
    EXPECT_NE(parameters.find(entry), std::string::npos) << entry.substr(1) << " is not in the man page";
  }
  // The picture README shows is shipped.
  EXPECT_EQ(source_file("examples/iris.png").substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

// The commands' flags, each as its entry says (the rows that share a flag joined), in README's
// flag table and the man page's COMMAND FLAGS.
TEST(SettingsTable, ReadmeAndManPageListEveryFlagWithItsValuesCommandsAndDefault) {
  const std::string readme = source_file("README.md"), man = source_file("man/mogem.1");
  const std::size_t from = readme.find("| flag | values | commands | default | effect |");
  std::string table = readme.substr(from, readme.find("\n\n", from) - from);
  table.erase(std::remove(table.begin(), table.end(), '`'), table.end());
  const std::vector<flag_entry> flags = flag_entries();
  EXPECT_EQ(occurrences(table, "\n| "), flags.size() + 1) << "README's flag table: one row a flag";
  for (const flag_entry &flag : flags) {
    const std::string line = "\n| " + flag.name + " | " + flag.values + " | " + command_names(flag.commands) + " | " +
                             flag.default_text + " |";
    EXPECT_NE(table.find(line), std::string::npos) << line.substr(1) << " is not in README";
    std::string name, values;
    for (char c : flag.name) name += c == '-' ? std::string("\\-") : std::string(1, c);
    for (const std::string &word : flag.words) values += (values.empty() ? "" : " | ") + word;
    if (flag.words.empty()) values = flag.values;
    const std::string entry =
        values.empty() ? "\n.B \"" + name + "\"\n" : "\n.BR \"" + name + "\" \" " + values + "\"\n";
    EXPECT_NE(man.find(entry), std::string::npos) << entry.substr(1) << " is not in the man page";
  }
}

// The defaults of a file without keys (each row's default stored) are the library's, but for
// the class count, which a file must give.
TEST(SettingsTable, DefaultsAreTheOptionsDefaults) {
  section_settings defaults, library;
  set_default_parameters(&defaults);
  library.file.settings.classes = 0;
  library.select_criterion = "bic";
  EXPECT_EQ(describe(defaults), describe(library));
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
