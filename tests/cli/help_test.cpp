// `mogem --help` and `mogem --version`, and the key table the help text is made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "io/parameter_file.h"
#include "io/parameter_keys.h"
#include "support/capture.h"
#include "support/run_binary.h"

using namespace mogem::detail;

TEST(InfoOptions, HelpAndVersionGoToStandardOutputAndSucceed) {
  scratch_dir dir;
  run_result help = run_mogem(dir, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind(std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n", 0), 0u);
  int count = 0;
  const em_key_info *keys = em_parameter_keys(&count);
  for (int k = 0; k < count; k++)
    EXPECT_NE(help.out.find(std::string("\n  ") + keys[k].key + " "), std::string::npos) << keys[k].key;
  for (const char *part : {".means", ".variances", ".weights", ".probs", ".internal", "Exit codes", "255"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;

  run_result version = run_mogem(dir, {"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("mogem ") + MOGEM_VERSION + "\n");
  EXPECT_EQ(version.err, "");
  EXPECT_TRUE(dir.files().empty());
}

TEST(InfoOptions, OnlyAsTheSoleArgument) {
  scratch_dir dir;
  // Any other single argument is still a short command line.
  run_result r = run_mogem(dir, {"--helpme"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("Usage: ") + MOGEM_BINARY + " <input_file> <output_file>\n");
  // With a second argument "--help" is an input file name like any other.
  r = run_mogem(dir, {"--help", "labels.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("--help is not openable"), std::string::npos) << r.err;
}

// The table must describe what the reader takes: each key and keyword is accepted silently.
TEST(KeyTable, EveryKeyAndKeywordIsAcceptedByTheReader) {
  int count = 0;
  const em_key_info *keys = em_parameter_keys(&count);
  ASSERT_EQ(count, 18);
  for (int k = 0; k < count; k++) {
    std::vector<const char *> values;
    if (keys[k].kind == KEY_KEYWORD)
      for (const char *const *w = keys[k].keywords; *w; w++) values.push_back(*w);
    else
      values.push_back("7");
    for (const char *value : values) {
      em_parameters p;
      set_default_parameters(&p);
      call_outcome out = capture([&] { EXPECT_EQ(parse_param_pair(keys[k].key, value, &p, warn_on_stderr), 0); });
      EXPECT_EQ(out.err, "") << keys[k].key << " " << value;
    }
    EXPECT_EQ(find_em_key(keys[k].key), &keys[k]);
  }
  EXPECT_EQ(find_em_key("begin"), nullptr);
  EXPECT_EQ(find_em_key("Rows"), nullptr);
}

TEST(KeyTable, StrictValueCheck) {
  const std::string long_name(512, 'a');
  const struct {
    const char *key, *value;
    bool ok;
  } cases[] = {
      {"rows", "150", true},         {"rows", "-3", true},          {"rows", "", false},
      {"rows", "12abc", false},      {"rows", "1.5", false},        {"rows", "abc", false},
      {"rows", "99999999999999999999", false},                      {"init_temp", "2.5e1", true},
      {"init_temp", "2.5x", false},  {"em_type", "full", true},     {"em_type", "Full", false},
      {"means_file", "means.txt", true}, {"means_file", "my means.txt", false},
      {"means_file", long_name.c_str(), false},
  };
  for (const auto &c : cases) EXPECT_EQ(em_key_value_ok(find_em_key(c.key), c.value), c.ok) << c.key << " " << c.value;
}
