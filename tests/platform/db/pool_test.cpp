// The pool of physical connections beneath the Connection objects.
#include "platform/db/pool.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db_test_support.h"
#include "platform/automation/convert.h"
#include "platform/db/connection.h"
#include "testing/forwarding_provider.h"

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
    provider.lastConnection.load()->unusable = true;
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

TEST_F(PoolTest, IdleConnectionsCountsWhatThePoolKeeps) {
  EXPECT_EQ(pool.IdleConnections(), 0u);
  std::vector<std::shared_ptr<PhysicalConnection>> held;
  for (int i = 0; i < 33; ++i) held.push_back(pool.Acquire(db.connectionString()));
  EXPECT_EQ(pool.IdleConnections(), 0u) << "connections handed out are not idle";
  held.clear();
  EXPECT_EQ(pool.IdleConnections(), 32u) << "the one beyond 32 per string is closed, not kept";
  pool.Clear();
  EXPECT_EQ(pool.IdleConnections(), 0u);
}

// Connections that touch no database and account for themselves: how many exist, how many were
// opened per connection string, and whether two holders ever used one at the same time. Each
// statement answers one row holding the connection's serial number.
class CountingProvider : public morvane::testing::ForwardingProvider {
 public:
  CountingProvider() : ForwardingProvider(morvane::testing::InertProvider::Instance()) {}

  std::atomic<int> alive{0};
  std::atomic<int> overlappingUses{0};

  int OpenedFor(const std::string& connectionString) {
    std::lock_guard lock(mutex_);
    return opened_[connectionString];
  }
  int Opened() {
    std::lock_guard lock(mutex_);
    return serial_;
  }

 private:
  class Connection : public morvane::testing::ForwardingConnection {
   public:
    Connection(std::unique_ptr<PhysicalConnection> inner, CountingProvider& owner, int serial)
        : ForwardingConnection(std::move(inner)), owner_(owner), serial_(serial) {
      ++owner_.alive;
    }
    ~Connection() override { --owner_.alive; }

    ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override {
      if (users_.fetch_add(1) != 0) ++owner_.overlappingUses;
      ResultSet result = ForwardingConnection::Execute(sql, params);
      result.rows.push_back({Variant(serial_)});
      users_.fetch_sub(1);
      return result;
    }

   private:
    CountingProvider& owner_;
    const int serial_;
    std::atomic<int> users_{0};
  };

  std::unique_ptr<PhysicalConnection> Wrap(std::unique_ptr<PhysicalConnection> connection,
                                           std::string_view connectionString) override {
    std::lock_guard lock(mutex_);
    ++opened_[std::string(connectionString)];
    return std::make_unique<Connection>(std::move(connection), *this, ++serial_);
  }

  std::mutex mutex_;
  std::map<std::string, int> opened_;  // guarded by mutex_
  int serial_ = 0;                     // guarded by mutex_
};

// Threads take one or two connections at a time, of their own string and of two strings every
// thread uses, and give them back in either order. Afterwards every connection opened is idle
// in the pool exactly once: none was lost, handed to two holders, or closed twice.
TEST(PoolThreadsTest, ThreadsSharingStringsNeitherLoseNorShareAConnection) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 10000;
  CountingProvider provider;
  ProviderOverride override_(provider);
  ConnectionPool& pool = ConnectionPool::Instance();
  const std::size_t openedBefore = pool.PhysicalConnectionsOpened();

  const std::string prefix = "Provider=SQLite;Data Source=pool-threads-" + std::to_string(::getpid()) + "-";
  std::vector<std::string> strings = {prefix + "shared-a", prefix + "shared-b"};
  for (int t = 0; t < kThreads; ++t) strings.push_back(prefix + "own-" + std::to_string(t));

  std::latch start(kThreads);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      const std::string* choices[] = {&strings[0], &strings[1], &strings[static_cast<std::size_t>(2 + t)]};
      start.arrive_and_wait();
      for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
        std::shared_ptr<PhysicalConnection> first = pool.Acquire(*choices[random() % 3]);
        std::shared_ptr<PhysicalConnection> second;
        if (random() % 2 == 0) second = pool.Acquire(*choices[random() % 3]);
        const Variant a = first->Execute("first", {}).rows.at(0).at(0);
        if (second && second->Execute("second", {}).rows.at(0).at(0) == a)
          failures[t] = "one physical connection was handed out twice at once";
        if (random() % 2 == 0) first.reset();  // else the second goes back first
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
  EXPECT_EQ(provider.overlappingUses.load(), 0) << "two holders used one connection at the same time";

  const int opened = provider.Opened();
  EXPECT_EQ(pool.PhysicalConnectionsOpened() - openedBefore, static_cast<std::size_t>(opened));
  EXPECT_EQ(provider.alive.load(), opened) << "nothing is held now, so every connection opened is idle";
  for (std::size_t i = 0; i < strings.size(); ++i) {
    SCOPED_TRACE(strings[i]);
    // A thread holds two at the most; the shared strings are held by every thread.
    const int n = provider.OpenedFor(strings[i]);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, i < 2 ? 2 * kThreads : 2);
    // The idle connections of the string come back once each, then the next one is new.
    std::vector<std::shared_ptr<PhysicalConnection>> held;
    std::set<std::int32_t> serials;
    for (int k = 0; k < n; ++k) {
      held.push_back(pool.Acquire(strings[i]));
      serials.insert(automation::ToLong(held.back()->Execute("which", {}).rows.at(0).at(0)));
    }
    EXPECT_EQ(static_cast<int>(serials.size()), n);
    EXPECT_EQ(provider.OpenedFor(strings[i]), n);
    held.push_back(pool.Acquire(strings[i]));
    EXPECT_EQ(provider.OpenedFor(strings[i]), n + 1);
  }
  pool.Clear();
  EXPECT_EQ(provider.alive.load(), 0) << "every idle connection is closed";
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
