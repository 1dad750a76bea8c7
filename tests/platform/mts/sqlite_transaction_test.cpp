// The runtime's transactions on a real SQLite file: what the votes of a call, a caller's scope
// and a call without transaction leave in the table, when a transaction takes the write lock, and
// that one transaction uses one connection per database however its string is spelt.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/connection.h"
#include "platform/db/pool.h"
#include "platform/db/recordset.h"
#include "platform/db/sqlite/sqlite_error.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "platform/mts/object_context.h"
#include "platform/mts/runtime.h"
#include "test_objects.h"
#include "testing/temp_folder.h"

namespace morvane::mts::testing {
namespace {

using automation::Error;

class SqliteTransactionTest : public ::testing::Test {
 protected:
  SqliteTransactionTest() {
    RegisterTestClasses();
    db::sqlite::CreateDatabase(path_.string());
    cs_ = "Provider=SQLite;Data Source=" + path_.string();
    Exec(cs_, "CREATE TABLE t (n INTEGER NOT NULL)");
  }
  ~SqliteTransactionTest() override { db::ConnectionPool::Instance().Clear(); }

  // Rows of the table as another connection, outside any transaction, sees them.
  int Rows() {
    auto c = db::Connection::New();
    c->Open(cs_);
    auto rs = c->Execute("SELECT COUNT(*) FROM t");
    return automation::ToLong(rs->GetFields().Item(0).Value());
  }

  void Insert(int n) { Exec(cs_, "INSERT INTO t (n) VALUES (" + std::to_string(n) + ")"); }

  std::string Path() const { return path_.string(); }

  std::string cs_;

 private:
  morvane::testing::TempFolder folder_{"morvane-mts"};
  std::filesystem::path path_ = folder_ / "test.db";
};

TEST_F(SqliteTransactionTest, TheVotesOfACallDecideWhatStays) {
  struct Case {
    const char* name;
    bool abort;
    bool complete;
    bool raises;
    int rowsLeft;
  };
  const Case cases[] = {
      {"SetAbort after two inserts", true, false, false, 0},
      {"SetComplete after two inserts", false, true, false, 2},
      {"raises without voting", false, false, true, 2},
      {"SetAbort, then raises", true, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec(cs_, "DELETE FROM t");
    auto obj = CreateObject(kRequired);
    auto body = [&] {
      Insert(1);
      Insert(2);
      if (c.abort) RequireObjectContext().SetAbort();
      if (c.complete) RequireObjectContext().SetComplete();
      if (c.raises) automation::Raise(5);
    };
    if (c.raises)
      EXPECT_THROW(RunIn(*obj, body), Error);
    else
      EXPECT_NO_THROW(RunIn(*obj, body));
    EXPECT_EQ(Rows(), c.rowsLeft);
  }
}

TEST_F(SqliteTransactionTest, AScopeOverTwoCallsCommitsBothOrNeither) {
  auto update = CreateObject(kRequired);
  {
    TransactionScope tx;
    RunIn(*update, [&] { Insert(1); });
    RunIn(*update, [&] { Insert(2); });
    EXPECT_EQ(Rows(), 0) << "nothing is visible before the scope commits";
    tx.Commit();
  }
  EXPECT_EQ(Rows(), 2);

  {
    TransactionScope tx;
    RunIn(*update, [&] { Insert(3); });
    RunIn(*update, [&] {
      RequireObjectContext().SetAbort();
      Insert(4);
    });
    EXPECT_THROW(tx.Commit(), Error);
  }
  EXPECT_EQ(Rows(), 2);

  {
    TransactionScope tx;
    RunIn(*update, [&] { Insert(5); });
    RunIn(*update, [&] { Insert(6); });
  }  // never committed
  EXPECT_EQ(Rows(), 2);
}

TEST_F(SqliteTransactionTest, ASupportedCallOutsideATransactionAutocommits) {
  auto info = CreateObject(kSupported);
  EXPECT_THROW(RunIn(*info,
                     [&] {
                       Insert(1);
                       RequireObjectContext().SetAbort();
                       automation::Raise(5);
                     }),
               Error);
  EXPECT_EQ(Rows(), 1);
}

TEST_F(SqliteTransactionTest, TheConnectionsOfACallSeeTheirOwnUncommittedRows) {
  auto update = CreateObject(kRequired);
  RunIn(*update, [&] {
    Insert(1);
    auto c = db::Connection::New();
    c->Open(cs_);
    auto rs = c->Execute("SELECT COUNT(*) FROM t");
    EXPECT_EQ(automation::ToLong(rs->GetFields().Item(0).Value()), 1);
    RequireObjectContext().SetAbort();
  });
  EXPECT_EQ(Rows(), 0);
}

TEST_F(SqliteTransactionTest, SpellingsOfOneConnectionStringShareTheTransactionsConnection) {
  // Without a wait for the lock: a second connection of the transaction would be refused at once.
  const std::string written = cs_ + ";Busy Timeout=0";
  const std::string respelt = " busy timeout = 0 ; data source=" + Path() + "; PROVIDER = SQLite ";
  auto update = CreateObject(kRequired);
  {
    TransactionScope tx;
    RunIn(*update, [&] {
      Exec(written, "INSERT INTO t (n) VALUES (1)");
      Exec(respelt, "INSERT INTO t (n) VALUES (2)");
    });
    RunIn(*update, [&] { Exec(respelt, "INSERT INTO t (n) VALUES (3)"); });
    EXPECT_EQ(Rows(), 0);
    tx.Commit();
  }
  EXPECT_EQ(Rows(), 3);
}

TEST_F(SqliteTransactionTest, ATransactionTakesTheWriteLockWhenItsWriteLockSaysSo) {
  const std::string noWait = cs_ + ";Busy Timeout=0";
  struct Case {
    const char* name;
    WriteLock writeLock;
    bool othersWriteWhileItReads;
  };
  const Case cases[] = {
      {"at enlistment", WriteLock::AtEnlistment, false},
      {"at the first write", WriteLock::AtFirstWrite, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec(cs_, "DELETE FROM t");
    auto tx = Transaction::Begin(c.writeLock);
    auto info = CreateObject(kSupported);
    auto inTx = [&](const std::string& sql) {
      TransactionBinding bound(tx);
      RunIn(*info, [&] { Exec(noWait, sql); });
    };
    inTx("SELECT COUNT(*) FROM t");

    bool othersWrote = true;
    try {
      Exec(noWait, "INSERT INTO t (n) VALUES (1)");
    } catch (const Error& e) {
      EXPECT_NE(e.Description().find("database is locked"), std::string::npos) << e.Description();
      othersWrote = false;
    }
    EXPECT_EQ(othersWrote, c.othersWriteWhileItReads);

    if (othersWrote) {
      // It read before that commit: its own write is refused, and nothing of it is kept.
      try {
        inTx("INSERT INTO t (n) VALUES (2)");
        ADD_FAILURE() << "the write of a transaction whose snapshot is stale succeeded";
      } catch (const Error& e) {
        EXPECT_EQ(db::sqlite::SqliteResultCode(e.Number()), SQLITE_BUSY_SNAPSHOT) << e.Description();
      }
      tx->Abort();
      EXPECT_EQ(Rows(), 1);
    } else {
      inTx("INSERT INTO t (n) VALUES (2)");
      tx->Commit();
      EXPECT_EQ(Rows(), 1);
    }
  }
}

}  // namespace
}  // namespace morvane::mts::testing
