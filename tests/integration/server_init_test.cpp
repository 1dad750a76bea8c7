// `morvane init --connect`: the scripts chosen by the product the driver reports, split into
// statements, the sDsn written for the server's connection string, and an existing database left
// alone unless forced.
#include <gtest/gtest.h>

#include "backend_fixture.h"
#include "platform/db/sql_text.h"
#include "provision/db_scripts.h"

namespace morvane::integration {
namespace {

TEST(IntegrationInitTextTest, ScriptFolderFollowsTheReportedProduct) {
  const std::pair<const char*, const char*> cases[] = {{"PostgreSQL", "postgresql"},
                                                       {"MariaDB", "mariadb"},
                                                       {"MySQL", "mariadb"},
                                                       {"Microsoft SQL Server", "sqlserver"},
                                                       {"sqlite", "sqlite"}};
  for (const auto& [name, folder] : cases) {
    EXPECT_EQ(provision::ScriptFolderFor(name), folder) << name;
    for (const char* script : {"/schema.sql", "/seed.sql", "/demo.sql"})
      EXPECT_TRUE(provision::DatabaseScripts().contains(std::string(folder) + script)) << folder << script;
  }
  try {
    provision::ScriptFolderFor("Oracle");
    ADD_FAILURE() << "no error";
  } catch (const provision::DatabaseInitError& e) {
    EXPECT_NE(std::string(e.what()).find("'Oracle'"), std::string::npos) << e.what();
  }
}

TEST(IntegrationInitTextTest, EveryProductsScriptsSplitIntoCreateAndInsertStatements) {
  // Every product's scripts split into statements that each start with a keyword.
  for (const auto& [name, text] : provision::DatabaseScripts())
    for (const std::string& s : db::SplitStatements(text))
      EXPECT_TRUE(s.starts_with("CREATE") || s.starts_with("INSERT")) << name << ": " << s.substr(0, 60);
}

TEST(IntegrationInitTextTest, DsnCarriesTheServersStringWithoutBraces) {
  struct Case {
    const char* connectString;
    const char* expected;  // the ConnectString entry of the sDsn
  };
  const Case cases[] = {
      {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=m;UID=u;PWD=",
       "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=5432;Database=m;UID=u;PWD=;"},
      {"Driver=FreeTDS;Server=sql.example.com;Port=1433;Database=m;UID=sa;PWD=p;TDS_Version=7.4",
       "Driver=FreeTDS;Server=sql.example.com;Port=1433;Database=m;UID=sa;PWD=p;TDS_Version=7.4;"},
      {"DSN=acc;PWD={a;b}", "DSN=acc;PWD=\"a;b\";"},
  };
  for (const Case& c : cases) {
    const std::string dsn = provision::ServerDsnFor(c.connectString, "PostgreSQL", "15.0.18");
    datasource::CParse parse;
    parse.ParseString(dsn);
    EXPECT_EQ(parse.ConStr(), c.expected) << c.connectString;
    EXPECT_EQ(parse.ConDBMSName(), "PostgreSQL");
    EXPECT_EQ(parse.ConDBMSVersion(), "15.0.18");
    EXPECT_EQ(parse.LanguageID(), "chs");
    // The rewritten string reaches the same entries.
    EXPECT_EQ(db::ConnectionString::Parse(parse.ConStr()).entries(),
              db::ConnectionString::Parse(c.connectString).entries())
        << c.connectString;
  }
  EXPECT_THROW(provision::ServerDsnFor("DSN=acc;PWD={a}}b}", "PostgreSQL", "15"), provision::DatabaseInitError)
      << "a \"}\" cannot stand in the description's braces";
  EXPECT_THROW(provision::ServerDsnFor("DSN=acc", "Odd;Name", "15"), provision::DatabaseInitError);
}

class InitTest : public BackendTest {};

TEST_P(InitTest, ExistingTablesAreKeptUnlessForced) {
  if (GetParam().variable == nullptr) GTEST_SKIP() << "the embedded SQLite is created as a file (host tests)";
  Exec("DELETE FROM CB_BmExpense");
  try {
    provision::InitServerDatabase({.connectString = ConnectString()});
    ADD_FAILURE() << "no error";
  } catch (const provision::DatabaseInitError& e) {
    EXPECT_EQ(e.kind(), provision::DatabaseInitError::Kind::AlreadyExists) << e.what();
  }
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_BmExpense").at(0), "0") << "nothing was touched";

  const std::string dsn = provision::InitServerDatabase({.connectString = ConnectString(), .demo = true, .force = true});
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_BmExpense").at(0), "4");
  datasource::CParse parse;
  parse.ParseString(dsn);
  EXPECT_EQ(parse.ConDBMSName(), GetParam().dbmsName);
  EXPECT_FALSE(parse.ConDBMSVersion().empty());
}

INSTANTIATE_TEST_SUITE_P(Integration, InitTest, ::testing::ValuesIn(kBackends), BackendName);

}  // namespace
}  // namespace morvane::integration
