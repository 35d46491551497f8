// `mogem --help` and `mogem --version`, and the key table the help text is made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/em_fe_params.h"
#include "engine/em_keys.h"
#include "support/capture.h"
#include "support/run_binary.h"

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
      call_outcome out = capture([&] { EXPECT_EQ(parse_param_pair(keys[k].key, value, &p), 0); });
      EXPECT_EQ(out.err, "") << keys[k].key << " " << value;
      std::free(p.means_file);
    }
    EXPECT_EQ(find_em_key(keys[k].key), &keys[k]);
  }
  EXPECT_EQ(find_em_key("begin"), nullptr);
  EXPECT_EQ(find_em_key("Rows"), nullptr);
}

TEST(KeyTable, StrictValueCheck) {
  const em_key_info *rows = find_em_key("rows"), *temp = find_em_key("init_temp"), *type = find_em_key("em_type");
  const em_key_info *file = find_em_key("means_file");
  EXPECT_TRUE(em_key_value_ok(rows, "150"));
  EXPECT_TRUE(em_key_value_ok(rows, "-3"));
  for (const char *bad : {"", "12abc", "1.5", "abc", "99999999999999999999"}) EXPECT_FALSE(em_key_value_ok(rows, bad)) << bad;
  EXPECT_TRUE(em_key_value_ok(temp, "2.5e1"));
  EXPECT_FALSE(em_key_value_ok(temp, "2.5x"));
  EXPECT_TRUE(em_key_value_ok(type, "full"));
  EXPECT_FALSE(em_key_value_ok(type, "Full"));
  EXPECT_TRUE(em_key_value_ok(file, "means.txt"));
  EXPECT_FALSE(em_key_value_ok(file, "my means.txt"));
  EXPECT_FALSE(em_key_value_ok(file, std::string(512, 'a').c_str()));
}
