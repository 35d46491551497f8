// The key table the reader, the help text and mogem-csv share, held against the reader and
// the documentation.
#include "io/parameter_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/parameter_file.h"
#include "support/capture.h"
#include "support/run_binary.h"

using namespace mogem::detail;

// The table must describe what the reader takes: each key and keyword is accepted silently.
TEST(KeyTable, EveryKeyAndKeywordIsAcceptedByTheReader) {
  int count = 0;
  const em_key_info *keys = em_parameter_keys(&count);
  ASSERT_EQ(count, 28);
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

TEST(Documentation, EveryKeyIsInTheReadmeTableAndTheManPage) {
  const std::string readme = source_file("README.md"), man = source_file("man/mogem.1");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(man.empty());
  int count = 0;
  const em_key_info *keys = em_parameter_keys(&count);
  for (int k = 0; k < count; k++) {
    const std::string key = keys[k].key;
    const bool in_table = readme.find("\n| `" + key + "` |") != std::string::npos ||
                          readme.find("\n| `t`, `" + key + "` |") != std::string::npos ||
                          readme.find("\n| `" + key + "`, `fast` |") != std::string::npos;
    EXPECT_TRUE(in_table) << key;
    const std::string roff_key = "\n.BI " + key + " ", roff_keyword = "\n.BR " + key + " ";
    EXPECT_TRUE(man.find(roff_key) != std::string::npos || man.find(roff_keyword) != std::string::npos ||
                man.find("\n.BR t \", \" " + key + " ") != std::string::npos ||
                man.find("\n.BR " + key + " \", \" fast ") != std::string::npos)
        << key;
    if (keys[k].kind == KEY_KEYWORD) {
      for (const char *const *w = keys[k].keywords; *w; w++)
        EXPECT_NE(readme.find(std::string("`") + *w + "`"), std::string::npos) << *w;
    }
  }
  // The picture the README shows is shipped.
  ASSERT_NE(readme.find("](examples/iris.png)"), std::string::npos);
  EXPECT_EQ(source_file("examples/iris.png").substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}
