// The pool of physical connections beneath the Connection objects.
#include "platform/db/pool.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "db_test_support.h"
#include "platform/db/connection.h"

namespace morvane::db {
namespace {

using automation::Variant;
using testing::ErrorOf;
using testing::ProviderOverride;
using testing::RecordingProvider;
using testing::TempDatabase;

constexpr const char* kIsolation = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";

// Every test works on a database of its own, so its connection string (the pool's key) is its
// own too, and on a provider that counts the physical connections it opens.
class PoolTest : public ::testing::Test {
 protected:
  TempDatabase db{"CREATE TABLE k (id INTEGER PRIMARY KEY);"};
  RecordingProvider provider;
  ProviderOverride override_{provider};
  ConnectionPool& pool = ConnectionPool::Instance();

  int Rows() {
    sqlite3* raw = nullptr;
    sqlite3_open(db.path().c_str(), &raw);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(raw, "SELECT count(*) FROM k", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    const int rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(raw);
    return rows;
  }
};

TEST_F(PoolTest, AThousandConnectionsShareAHandfulOfPhysicalOnesAndEachRunsItsIsolationStatement) {
  const std::size_t openedBefore = pool.PhysicalConnectionsOpened();
  for (int i = 0; i < 1000; ++i) {
    auto connection = Connection::New();
    connection->Open(db.connectionString());
    connection->Execute(kIsolation);
    if (i % 2 == 0) connection->Close();  // the others go back when the object ends
  }
  EXPECT_EQ(provider.log->connects, 1);
  EXPECT_EQ(pool.PhysicalConnectionsOpened() - openedBefore, 1u);
  const std::vector<std::string> statements = provider.log->Snapshot();
  EXPECT_EQ(statements.size(), 1000u);
  EXPECT_EQ(std::count(statements.begin(), statements.end(), kIsolation), 1000);
}

TEST_F(PoolTest, ThreadsOpeningAtOnceNeedNoMoreConnectionsThanThreads) {
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        auto connection = Connection::New();
        connection->Open(db.connectionString());
        connection->Execute(kIsolation);
        connection->Execute("SELECT count(*) FROM k");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_GE(provider.log->connects, 1);
  EXPECT_LE(provider.log->connects, kThreads);
  const std::vector<std::string> statements = provider.log->Snapshot();
  EXPECT_EQ(std::count(statements.begin(), statements.end(), kIsolation), kThreads * 250);
}

TEST_F(PoolTest, ConnectionsHeldAtOnceAreDistinctAndComeBackForReuse) {
  auto a = pool.Acquire(db.connectionString());
  auto b = pool.Acquire(db.connectionString());
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(provider.log->connects, 2);
  a.reset();
  b.reset();
  auto c = pool.Acquire(db.connectionString());
  auto d = pool.Acquire(db.connectionString());
  EXPECT_EQ(provider.log->connects, 2);
}

TEST_F(PoolTest, AConnectionGivenBackInATransactionIsRolledBackFirst) {
  {
    auto connection = pool.Acquire(db.connectionString());
    connection->Begin();
    connection->Execute("INSERT INTO k VALUES (1)", {});
  }
  EXPECT_EQ(provider.log->Snapshot().back(), "ROLLBACK");
  EXPECT_EQ(Rows(), 0);

  // The same physical connection serves the next holder, ready for a transaction of its own.
  auto connection = pool.Acquire(db.connectionString());
  EXPECT_EQ(provider.log->connects, 1);
  connection->Begin();
  connection->Execute("INSERT INTO k VALUES (2)", {});
  connection->Commit();
  EXPECT_EQ(Rows(), 1);
}

TEST_F(PoolTest, ACommittedTransactionIsNotRolledBackOnReturn) {
  {
    auto connection = pool.Acquire(db.connectionString());
    connection->Begin();
    connection->Execute("INSERT INTO k VALUES (1)", {});
    connection->Commit();
  }
  EXPECT_EQ(provider.log->Snapshot().back(), "COMMIT");
  EXPECT_EQ(Rows(), 1);
}

TEST_F(PoolTest, AnUnfitConnectionIsDiscarded) {
  {
    auto connection = pool.Acquire(db.connectionString());
    provider.lastConnection->unusable = true;
  }
  pool.Acquire(db.connectionString());
  EXPECT_EQ(provider.log->connects, 2);
}

TEST_F(PoolTest, ATransactionLeftOpenByStatementTextNeverReachesTheNextHolder) {
  {
    auto connection = pool.Acquire(db.connectionString());
    connection->Execute("BEGIN", {});
    connection->Execute("INSERT INTO k VALUES (1)", {});
  }
  // Discarded (closing it rolled back); the database is neither changed nor locked.
  auto connection = pool.Acquire(db.connectionString());
  EXPECT_EQ(provider.log->connects, 2);
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(connection->Execute("INSERT INTO k VALUES (2)", {}).rowsAffected, 1);
}

TEST_F(PoolTest, ClearClosesTheIdleConnections) {
  pool.Acquire(db.connectionString());
  pool.Clear();
  pool.Acquire(db.connectionString());
  EXPECT_EQ(provider.log->connects, 2);
}

TEST(PoolOpenTest, AFailedOpenRaisesEveryTimeAndCountsNothing) {
  TempDatabase db;
  const std::string cs = "Provider=SQLite;Data Source=" + (db.dir() / "missing.db").string();
  ConnectionPool& pool = ConnectionPool::Instance();
  const std::size_t before = pool.PhysicalConnectionsOpened();
  for (int i = 0; i < 2; ++i) EXPECT_NE(ErrorOf([&] { pool.Acquire(cs); }).Description().find("missing.db"), std::string::npos);
  EXPECT_EQ(pool.PhysicalConnectionsOpened(), before);
}

}  // namespace
}  // namespace morvane::db
