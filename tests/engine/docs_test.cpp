// The README and the man page describe every parameter key the reader knows.
#include <gtest/gtest.h>

#include "io/parameter_keys.h"
#include "support/run_binary.h"

using namespace mogem::detail;

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
