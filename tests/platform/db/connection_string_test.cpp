// The connection string grammar and the choice of provider.
#include "platform/db/connection_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/automation/error.h"
#include "platform/db/ado_constants.h"
#include "platform/db/provider.h"
#include "platform/db/sqlite/sqlite_provider.h"

namespace morvane::db {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(ConnectionStringTest, ParsesEntries) {
  struct Case {
    const char* text;
    Entries entries;
  };
  const Case cases[] = {
      {"Provider=SQLite;Data Source=/tmp/a.db", {{"Provider", "SQLite"}, {"Data Source", "/tmp/a.db"}}},
      {"  Provider = SQLite ; Data Source = /tmp/a b.db ;", {{"Provider", "SQLite"}, {"Data Source", "/tmp/a b.db"}}},
      {"Data Source=\"/tmp/a;b.db\"", {{"Data Source", "/tmp/a;b.db"}}},
      {"Data Source='/tmp/it''s.db'", {{"Data Source", "/tmp/it's.db"}}},
      {"Data Source=\"say \"\"hi\"\"\"", {{"Data Source", "say \"hi\""}}},
      {"Driver={SQLite3 ODBC; Driver};Database=x", {{"Driver", "SQLite3 ODBC; Driver"}, {"Database", "x"}}},
      {"Pwd={a}}b}", {{"Pwd", "a}b"}}},
      {"A=1;;;B=2;", {{"A", "1"}, {"B", "2"}}},
      {"A=", {{"A", ""}}},
      {"A=x=y", {{"A", "x=y"}}},
      {"", {}},
      {" ; ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ConnectionString::Parse(c.text).entries(), c.entries);
  }
}

TEST(ConnectionStringTest, FindIgnoresCaseAndTakesTheLastEntry) {
  const ConnectionString cs = ConnectionString::Parse("data source=first;PROVIDER=sqlite;Data Source=second");
  ASSERT_NE(cs.Find("Data Source"), nullptr);
  EXPECT_EQ(*cs.Find("Data Source"), "second");
  EXPECT_EQ(*cs.Find("provider"), "sqlite");
  EXPECT_EQ(cs.Find("Busy Timeout"), nullptr);
}

TEST(ConnectionStringTest, MalformedStringsRaise3001NamingTheProblemButNoValue) {
  struct Case {
    const char* text;
    const char* problem;
  };
  const Case cases[] = {
      {"Provider=SQLite;secret", "entry 2 has no '='"},
      {"Provider=SQLite;=x", "entry 2 has an empty key"},
      {"Pwd=\"secret", "no closing \""},
      {"Pwd='secret", "no closing '"},
      {"Driver={secret", "no closing }"},
      {"Pwd=\"a\"secret;", "text after its closing \""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ConnectionString::Parse(c.text);
      ADD_FAILURE() << "no error";
    } catch (const automation::Error& e) {
      EXPECT_EQ(e.Number(), adErrInvalidArgument);
      EXPECT_NE(e.Description().find(c.problem), std::string::npos) << e.Description();
      EXPECT_EQ(e.Description().find("secret"), std::string::npos) << e.Description();
    }
  }
}

TEST(ConnectionStringTest, SpellingsOfOneStringNormaliseAlike) {
  const auto reference = NormaliseConnectionString("Provider=SQLite;Data Source=/srv/a.db");
  ASSERT_TRUE(reference);
  EXPECT_EQ(*reference, (Entries{{"data source", "/srv/a.db"}, {"provider", "SQLite"}}));
  struct Case {
    const char* text;
    bool same;
  };
  const Case cases[] = {
      {"provider=SQLite; data source=/srv/a.db", true},
      {"  DATA SOURCE = /srv/a.db ;Provider=SQLite;", true},
      {"Provider=SQLite;;Data Source=\"/srv/a.db\"", true},
      {"Provider=sqlite;Data Source=/srv/a.db", false},  // values compare exactly
      {"Provider=SQLite;Data Source=/srv/a.db;Busy Timeout=0", false},
      {"Provider=SQLite;Data Source=/srv/b.db", false},
  };
  for (const Case& c : cases) {
    const auto normalised = NormaliseConnectionString(c.text);
    ASSERT_TRUE(normalised) << c.text;
    EXPECT_EQ(*normalised == *reference, c.same) << c.text;
  }
}

TEST(ConnectionStringTest, StringsWithoutOneMeaningDoNotNormalise) {
  for (const char* text : {"", " ; ", "Provider=SQLite;secret", "Data Source=/a;DATA SOURCE=/b", "Pwd={open"})
    EXPECT_FALSE(NormaliseConnectionString(text)) << text;
}

TEST(ProviderForTest, ChoosesSqliteByName) {
  EXPECT_EQ(&ProviderFor("Provider=SQLite;Data Source=x"), &sqlite::SqliteProvider::Instance());
  EXPECT_EQ(&ProviderFor("provider=sqlite;Data Source=x"), &sqlite::SqliteProvider::Instance());
}

TEST(ProviderForTest, RaisesProviderNotFoundNamingTheProblem) {
  struct Case {
    const char* text;
    const char* problem;
  };
  const Case cases[] = {
      {"Data Source=/tmp/a.db", "names no provider"},
      {"", "names no provider"},
      {"Provider=Oracle;Data Source=x", "'Oracle' is not available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ProviderFor(c.text);
      ADD_FAILURE() << "no error";
    } catch (const automation::Error& e) {
      EXPECT_EQ(e.Number(), adErrProviderNotFound);
      EXPECT_NE(e.Description().find(c.problem), std::string::npos) << e.Description();
    }
  }
}

}  // namespace
}  // namespace morvane::db
