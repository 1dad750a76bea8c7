// The probe that tells whether a SQLite database is held open, which `init --force` asks before it
// replaces a file: idle connections in WAL mode, of this process and of others, must be seen.
#include "platform/db/sqlite/sqlite_in_use.h"

#include <gtest/gtest.h>

#include "db_test_support.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/held_database.h"

namespace morvane::db {
namespace {

using sqlite::DatabaseInUse;
using testing::TempDatabase;

TEST(SqliteInUseTest, AnIdleConnectionOfAnotherProcessIsSeen) {
  TempDatabase db("CREATE TABLE t (x); INSERT INTO t VALUES (1);");
  EXPECT_FALSE(DatabaseInUse(db.path())) << "nobody holds it";
  const struct {
    const char* what;
    const char* setup;
  } holders[] = {
      {"idle in WAL mode, as the provider's connections are", "PRAGMA journal_mode=WAL"},
      {"idle in WAL mode after a write", "PRAGMA journal_mode=WAL; INSERT INTO t VALUES (2)"},
      {"inside a read transaction in rollback-journal mode",
       "PRAGMA journal_mode=DELETE; BEGIN; SELECT count(*) FROM t"},
  };
  for (const auto& h : holders) {
    morvane::testing::HeldDatabase held(db.path(), h.setup);
    ASSERT_TRUE(held.holding()) << h.what;
    EXPECT_TRUE(DatabaseInUse(db.path())) << h.what;
    EXPECT_TRUE(DatabaseInUse(db.path())) << h.what << ": a probe leaves no lock that hides the holder";
    held.Release();
    EXPECT_FALSE(DatabaseInUse(db.path())) << h.what << ": closed";
  }
}

TEST(SqliteInUseTest, AConnectionOfThisProcessIsSeenAndKeepsItsLocks) {
  TempDatabase db("CREATE TABLE t (x);");
  {
    auto connection = sqlite::SqliteProvider::Instance().Connect(db.connectionString());
    EXPECT_TRUE(DatabaseInUse(db.path()));
    // The probe's own descriptor was closed; the connection's lock must still be there.
    EXPECT_TRUE(DatabaseInUse(db.path())) << "the probe dropped the connection's lock";
  }
  EXPECT_FALSE(DatabaseInUse(db.path()));
}

TEST(SqliteInUseTest, WhatIsNoDatabaseIsNotInUse) {
  morvane::testing::TempFolder dir;
  EXPECT_FALSE(DatabaseInUse(dir.Write("text.db", "not a database, only some text").string()));
  EXPECT_FALSE(DatabaseInUse((dir / "missing.db").string()));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"text.db"}) << "the probe created a file";
  EXPECT_EQ(morvane::testing::ReadFileText(dir / "text.db"), "not a database, only some text");
}

}  // namespace
}  // namespace morvane::db
