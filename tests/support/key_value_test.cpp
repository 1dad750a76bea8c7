#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/globals.h"

namespace morvane::support {
namespace {

TEST(GetKeyValue, FindsTheFirstKeyEqualsUpToTheNextSemicolon) {
  struct Case {
    std::string source;
    std::string key;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"UserID=1;Language=en", "Language", "en"},
      {"UserID=1;language=cht;", "Language", "cht"},
      {"LANGUAGE=en", "language", "en"},
      {"UserID=1", "Language", ""},
      {"", "Language", ""},
      // A plain substring match: the key may end a longer name, and the first match wins.
      {"XLanguage=fr;Language=en", "Language", "fr"},
      // Values are not trimmed; an entry with nothing after "=" is empty.
      {"Language= en ;UserID=1", "Language", " en "},
      {"Language=;UserID=1", "Language", ""},
      {"UserID=1;Language=", "Language", ""},
      // No braces: a value ends at the first ";", wherever it is.
      {"ConnectString={Data Source=x;Language=de};Language=en", "Language", "de}"},
      {"ConnectString={a;b}", "ConnectString", "{a"},
      {"a=1;b=2=3", "b", "2=3"},
      {"名称=值;Language=en", "名称", "值"},
      // A key holding ";" cannot reach its own "=" before the entry ends.
      {"a;b=1", "a;b", ""},
      {"Language en;Language=en", "Language", "en"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetKeyValue(c.source, c.key), c.value) << "source [" << c.source << "] key [" << c.key << "]";
}

}  // namespace
}  // namespace morvane::support
