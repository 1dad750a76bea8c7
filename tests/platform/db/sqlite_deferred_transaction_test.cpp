// Transactions begun with BeginDeferred on SQLite: they take the write lock, and their place in
// the process's queue for it, at their first statement that writes, so one that only reads keeps
// no writer out; and a write that can no longer get the lock fails at once with a clear error,
// writing nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>

#include "db_test_support.h"
#include "platform/db/sqlite/sqlite_error.h"
#include "platform/db/sqlite/sqlite_provider.h"

namespace morvane::db {
namespace {

using sqlite::SqliteProvider;
using sqlite::SqliteResultCode;
using testing::ErrorOf;
using testing::TempDatabase;

constexpr const char* kSchema = "CREATE TABLE k (id INTEGER PRIMARY KEY);";

std::unique_ptr<PhysicalConnection> Connect(const std::string& cs) { return SqliteProvider::Instance().Connect(cs); }

// Whether the write lock, or this process's queue for it, is free: a transaction with no time to
// wait can begin.
bool WriteLockFree(const std::string& cs) {
  auto probe = Connect(cs);
  try {
    probe->Begin();
  } catch (const automation::Error&) {
    return false;
  }
  probe->Rollback();
  return true;
}

std::int32_t RowCount(const std::string& cs) {
  return automation::ToLong(Connect(cs)->Execute("SELECT count(*) FROM k", {}).rows.at(0).at(0));
}

TEST(SqliteDeferredTransactionTest, OnlyAStatementThatWritesTakesTheLock) {
  struct Case {
    const char* sql;
    bool writes;
  };
  const Case cases[] = {
      {"SELECT * FROM k", false},
      {"WITH c AS (SELECT 1) SELECT * FROM c", false},
      {"PRAGMA user_version", false},
      {"INSERT INTO k VALUES (1)", true},
      {"UPDATE k SET id = 2 WHERE id = 99", true},  // a write although no row matches
      {"DELETE FROM k", true},
      {"REPLACE INTO k VALUES (5)", true},
      {"WITH c(n) AS (SELECT 7) INSERT INTO k SELECT n FROM c", true},
      {"CREATE TABLE t2 (x)", true},
      {"ALTER TABLE k ADD COLUMN z", true},
      {"PRAGMA user_version = 3", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    TempDatabase db(kSchema, "Busy Timeout=0");
    auto conn = Connect(db.connectionString());
    conn->BeginDeferred();
    EXPECT_TRUE(WriteLockFree(db.connectionString())) << "begun, nothing run yet";
    conn->Execute(c.sql, {});
    EXPECT_EQ(WriteLockFree(db.connectionString()), !c.writes);
    conn->Rollback();
    EXPECT_TRUE(WriteLockFree(db.connectionString())) << "the rollback lets the next writer in";
  }
}

TEST(SqliteDeferredTransactionTest, AReaderLetsOthersWriteAndCommit) {
  TempDatabase db(kSchema, "Busy Timeout=0");
  auto reader = Connect(db.connectionString());
  reader->BeginDeferred();
  EXPECT_EQ(reader->Execute("SELECT count(*) FROM k", {}).rows.at(0).at(0), Variant(std::int32_t{0}));

  auto writer = Connect(db.connectionString());
  writer->Begin();
  writer->Execute("INSERT INTO k VALUES (1)", {});
  writer->Commit();
  EXPECT_EQ(Connect(db.connectionString())->Execute("INSERT INTO k VALUES (2)", {}).rowsAffected, 1);

  EXPECT_EQ(reader->Execute("SELECT count(*) FROM k", {}).rows.at(0).at(0), Variant(std::int32_t{0}))
      << "the reader keeps the snapshot of its first read";
  reader->Commit();
  EXPECT_EQ(RowCount(db.connectionString()), 2);
}

TEST(SqliteDeferredTransactionTest, AFirstWriteQueuesBehindTheWriterAheadOfIt) {
  TempDatabase db(kSchema, "Busy Timeout=0");
  auto first = Connect(db.connectionString());
  auto second = Connect(db.connectionString());
  first->Begin();
  first->Execute("INSERT INTO k VALUES (1)", {});
  second->BeginDeferred();
  const automation::Error refused = ErrorOf([&] { second->Execute("INSERT INTO k VALUES (2)", {}); });
  EXPECT_EQ(SqliteResultCode(refused.Number()) & 0xFF, SQLITE_BUSY) << refused.Description();
  EXPECT_NE(refused.Description().find("the transactions of this process ahead of this one"), std::string::npos)
      << refused.Description();

  // It had not read, so once the first one has committed it writes in the same transaction.
  first->Commit();
  EXPECT_EQ(second->Execute("INSERT INTO k VALUES (2)", {}).rowsAffected, 1);
  second->Commit();
  EXPECT_EQ(RowCount(db.connectionString()), 2);
}

TEST(SqliteDeferredTransactionTest, AWriteThatCanNoLongerGetTheLockFailsAtOnceAndWritesNothing) {
  struct Case {
    const char* what;
    int code;             // SQLite's extended result code of the refusal
    const char* says;     // in its description
    // Makes the reader's write impossible after its read; returns what ends the interference.
    std::function<std::function<void()>(const TempDatabase&)> interfere;
  };
  const Case cases[] = {
      {"another connection committed after the read", SQLITE_BUSY_SNAPSHOT, "can no longer write",
       [](const TempDatabase& db) {
         Connect(db.connectionString())->Execute("INSERT INTO k VALUES (1)", {});
         return [] {};
       }},
      {"another process holds the write lock", SQLITE_BUSY, "cannot wait for it",
       [](const TempDatabase& db) {
         sqlite3* outside = nullptr;
         sqlite3_open(db.path().c_str(), &outside);
         sqlite3_exec(outside, "BEGIN IMMEDIATE; INSERT INTO k VALUES (1);", nullptr, nullptr, nullptr);
         return [outside] {
           sqlite3_exec(outside, "COMMIT", nullptr, nullptr, nullptr);
           sqlite3_close(outside);
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A long busy timeout: the refusal must not wait for it.
    TempDatabase db(kSchema, "Busy Timeout=30000");
    const std::string noWait = "Provider=SQLite;Data Source=" + db.path() + ";Busy Timeout=0";
    auto reader = Connect(db.connectionString());
    reader->BeginDeferred();
    reader->Execute("SELECT count(*) FROM k", {});
    const std::function<void()> end = c.interfere(db);

    const automation::Error e = ErrorOf([&] { reader->Execute("INSERT INTO k VALUES (2)", {}); });
    EXPECT_EQ(SqliteResultCode(e.Number()), c.code) << e.Description();
    EXPECT_NE(e.Description().find("database is locked"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("[statement: INSERT INTO k VALUES (2)]"), std::string::npos) << e.Description();
    end();

    EXPECT_TRUE(WriteLockFree(noWait)) << "the refused write left the queue";
    EXPECT_TRUE(reader->IsUsable());
    EXPECT_NO_THROW(reader->Rollback());
    EXPECT_EQ(RowCount(db.connectionString()), 1) << "only the other connection's row";
  }
}

}  // namespace
}  // namespace morvane::db
