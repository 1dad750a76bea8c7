// The queue in which the SQLite connections of one process take a database file's write lock:
// every way a transaction ends lets the next connection in, and a connection that cannot get in
// within its busy timeout gets the "database is locked" error instead of waiting on.
#include "platform/db/sqlite/write_gate.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
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
using sqlite::WriteGate;
using testing::ErrorOf;
using testing::TempDatabase;

constexpr const char* kSchema = "CREATE TABLE k (id INTEGER PRIMARY KEY);";

std::unique_ptr<PhysicalConnection> Connect(const std::string& cs) { return SqliteProvider::Instance().Connect(cs); }

TEST(SqliteWriteGateTest, EveryWayATransactionEndsLetsTheNextOneBegin) {
  struct Case {
    const char* how;
    std::function<void(std::unique_ptr<PhysicalConnection>&)> end;
  };
  const Case cases[] = {
      {"commit", [](auto& c) { c->Commit(); }},
      {"rollback", [](auto& c) { c->Rollback(); }},
      {"connection closed in the transaction", [](auto& c) { c.reset(); }},
  };
  for (const auto& c : cases) {
    TempDatabase db(kSchema, "Busy Timeout=0");
    auto first = Connect(db.connectionString());
    auto second = Connect(db.connectionString());
    first->Begin();
    first->Execute("INSERT INTO k VALUES (1)", {});
    // With no time to wait, the second one is refused while the first transaction is open ...
    const automation::Error refused = ErrorOf([&] { second->Begin(); });
    EXPECT_EQ(SqliteResultCode(refused.Number()) & 0xFF, SQLITE_BUSY) << c.how << ": " << refused.Description();
    EXPECT_NE(refused.Description().find("database is locked"), std::string::npos) << c.how;
    // ... and let in at once after it ended.
    c.end(first);
    EXPECT_NO_THROW(second->Begin()) << c.how;
    EXPECT_NO_THROW(second->Commit()) << c.how;
  }
}

TEST(SqliteWriteGateTest, ABeginThatFailsForAnotherProcessLockLeavesTheQueue) {
  TempDatabase db(kSchema, "Busy Timeout=0");
  auto first = Connect(db.connectionString());
  auto second = Connect(db.connectionString());
  // A connection outside the provider (as another process would) holds the write lock.
  sqlite3* outside = nullptr;
  ASSERT_EQ(sqlite3_open(db.path().c_str(), &outside), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(outside, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(SqliteResultCode(ErrorOf([&] { first->Begin(); }).Number()) & 0xFF, SQLITE_BUSY);
  sqlite3_exec(outside, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(outside);
  EXPECT_NO_THROW(second->Begin()) << "the failed Begin of the first connection must not keep its place";
  second->Rollback();
  EXPECT_NO_THROW(first->Begin());
  first->Commit();
}

TEST(SqliteWriteGateTest, OneGatePerFileWhateverTheSpellingOfItsPath) {
  TempDatabase db(kSchema);
  TempDatabase other(kSchema);
  const auto gate = WriteGate::For(db.path());
  EXPECT_EQ(WriteGate::For((db.dir() / "." / "test.db").string()), gate);
  EXPECT_EQ(WriteGate::For((db.dir() / ".." / db.dir().filename() / "test.db").string()), gate);
  EXPECT_NE(WriteGate::For(other.path()), gate);
}

TEST(SqliteWriteGateTest, AnEntrantThatGivesUpDoesNotBlockThoseBehindIt) {
  WriteGate gate;
  ASSERT_TRUE(gate.Enter(std::chrono::milliseconds(0)));
  EXPECT_FALSE(gate.Enter(std::chrono::milliseconds(0))) << "occupied";
  gate.Leave();
  EXPECT_TRUE(gate.Enter(std::chrono::milliseconds(0))) << "the one that gave up left no ticket in the queue";
  gate.Leave();
}

}  // namespace
}  // namespace morvane::db
