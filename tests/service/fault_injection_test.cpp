// The changes when the database fails under them: a statement refused at any point of a call, the
// connection lost in the middle of a call, a commit that fails, and a database file locked by
// another process. Whatever fails, a call with bMts True must raise and leave the settings table
// exactly as it was, and the next call must work.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/pool.h"
#include "platform/db/sqlite/sqlite_error.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/faulty_provider.h"
#include "testing/held_database.h"
#include "testing/provider_override.h"
#include "testing/service_fixture.h"

namespace morvane::testing {
namespace {

// A description of the database whose "DBMS Version" is new on every call, so that the shared
// catalogue and profile groups named after it are empty and each run of an operation runs the
// same statements from its first one (the loading of those groups included).
std::string FreshDsn(const std::string& connectString) {
  static int run = 0;
  return "ConnectString={" + connectString + "};UserName=tester;UserID=1;DBMS Name=SQLite;DBMS Version=fault-" +
         std::to_string(++run) + ";LANGUAGE=chs;AcctType=GY";
}

// A fresh database whose settings table holds rows of two voucher classes, every column filled.
class SeededDatabase : public TempDatabase {
 public:
  SeededDatabase() {
    Exec("INSERT INTO CB_CostVchTempSet VALUES "
         "('V1','301','Base','D01','Dept 1','E01','Exp 1',1001,'Cash',3,'Dept',12,'Item 12','seed a',2,'G2'),"
         "('V1','201','Assist','D02','Dept 2','D03','Dept 3',1002,'Bank',4,'Proj',13,'Item 13','seed b',0,''),"
         "('V1','302','Lend','D01','Dept 1','E02','Exp 2',NULL,NULL,NULL,NULL,NULL,NULL,'seed c',1,'G1'),"
         "('V2','301','Base','D01','Dept 1','E01','Exp 1',2001,'Stock',5,'Stock',14,'Item 14','seed d',3,'G3')");
  }
  // Every row and every column of the settings table, in key order, as lines "v1|v2|..." (Null as
  // "NULL"). Read from the file through the SQLite library itself, past the pool and the provider
  // under test, so a lost connection left in the pool cannot hide or disturb what was written.
  std::vector<std::string> Table() const {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT * FROM CB_CostVchTempSet ORDER BY FVchClass,FTypeID,FExpDeptID,FExpenseID", -1,
                           &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string line;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
          if (c > 0) line += "|";
          const auto* text = sqlite3_column_text(stmt, c);
          line += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(line);
      }
    } else {
      ADD_FAILURE() << "cannot read the settings table: " << sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }
};

// One change with bMts True, as a client calls it by name.
struct Operation {
  const char* name;
  std::function<void(automation::Dispatch& update, const std::string& dsn)> call;
};

std::shared_ptr<objlib::KeyedRecord> Row(const char* vchClass, const char* type, const char* dept,
                                         const char* expense, const char* remark, int acct) {
  auto r = TempDatabase::Setting(vchClass, type, dept, expense, remark);
  r->SetValue("FAcctID", acct);
  r->SetValue("FGroupName", "G");
  return r;
}

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> operations = {
      {"UpdateInsert of three rows",
       [](automation::Dispatch& update, const std::string& dsn) {
         // The first row's key is stored already: the class is cleared first, so it is written anew.
         auto rows = TempDatabase::List({Row("V1", "301", "D01", "E01", "new a", 7), Row("V1", "302", "D05", "E05", "new b", 8),
                                         Row("V1", "202", "D06", "E06", "new c", 9)});
         automation::Call(update, "UpdateInsert", dsn, rows, true);
       }},
      {"Append of three rows",
       [](automation::Dispatch& update, const std::string& dsn) {
         auto rows = TempDatabase::List({Row("V3", "301", "D01", "E01", "x", 1), Row("V3", "301", "D02", "E01", "y", 2),
                                         Row("V3", "202", "D01", "E03", "z", 3)});
         automation::Call(update, "Append", dsn, rows, true);
       }},
      {"Delete of a voucher class",
       [](automation::Dispatch& update, const std::string& dsn) {
         automation::Call(update, "Delete", dsn, TempDatabase::Record({{"FVchClass", "V1"}}), true);
       }},
      {"Update of one row",
       [](automation::Dispatch& update, const std::string& dsn) {
         auto key = TempDatabase::Record({{"FVchClass", "V1"}, {"FTypeID", "301"}, {"FExpDeptID", "D01"}, {"FExpenseID", "E01"}});
         auto values = TempDatabase::List({TempDatabase::Record({{"FRemark", "changed"}, {"FAcctID", 77}, {"FGroupID", 9}})});
         automation::Call(update, "Update", dsn, key, values, true);
       }},
  };
  return operations;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  // The statements an operation runs on a fresh database, and the table it leaves there.
  struct CleanRun {
    std::vector<std::string> statements;
    std::vector<std::string> table;
  };
  CleanRun Clean(const Operation& op) {
    SeededDatabase db;
    const std::vector<std::string> before = db.Table();
    auto update = TempDatabase::Create("Morvane.VchTempSetUpdate");
    provider_.Count();
    op.call(*update, FreshDsn(db.ConnectString()));
    CleanRun run{provider_.Statements(), db.Table()};
    EXPECT_NE(run.table, before) << op.name << " changes nothing, so its failures would show nothing";
    return run;
  }

  FaultyProvider provider_{db::sqlite::SqliteProvider::Instance()};
  ProviderOverride override_{provider_};
};

TEST_F(FaultInjectionTest, AStatementRefusedAnywhereInAChangeLeavesTheTableAsItWas) {
  for (const Operation& op : Operations()) {
    const CleanRun clean = Clean(op);
    ASSERT_FALSE(clean.statements.empty()) << op.name;
    for (std::size_t k = 1; k <= clean.statements.size(); ++k) {
      SCOPED_TRACE(std::string(op.name) + ", statement " + std::to_string(k) + " of " +
                   std::to_string(clean.statements.size()) + " fails: " + clean.statements[k - 1]);
      SeededDatabase db;
      const std::vector<std::string> before = db.Table();
      auto update = TempDatabase::Create("Morvane.VchTempSetUpdate");
      const std::string dsn = FreshDsn(db.ConnectString());

      provider_.FailStatement(static_cast<int>(k));
      const auto error = Raised([&] { op.call(*update, dsn); });
      provider_.Disarm();
      ASSERT_TRUE(provider_.Struck()) << "the run took another road than the clean one";
      EXPECT_EQ(provider_.Statements()[k - 1], clean.statements[k - 1]) << "the run took another road";
      ASSERT_TRUE(error.has_value()) << "the failure was reported as success";
      EXPECT_NE(error->Number(), 0) << Describe(*error);
      EXPECT_EQ(db.Table(), before) << "raised " << Describe(*error);
    }
  }
}

TEST_F(FaultInjectionTest, AFailedCommitIsReportedAndLeavesTheTableAsItWas) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    const CleanRun clean = Clean(op);
    SeededDatabase db;
    const std::vector<std::string> before = db.Table();
    auto update = TempDatabase::Create("Morvane.VchTempSetUpdate");

    provider_.FailCommit();
    const auto error = Raised([&] { op.call(*update, FreshDsn(db.ConnectString())); });
    provider_.Disarm();
    ASSERT_TRUE(provider_.Struck()) << "the call committed nothing";
    ASSERT_TRUE(error.has_value()) << "a commit that failed was reported as success";
    EXPECT_EQ(error->Number(), kInjectedStatementError) << Describe(*error);
    EXPECT_EQ(db.Table(), before);

    op.call(*update, FreshDsn(db.ConnectString()));
    EXPECT_EQ(db.Table(), clean.table) << "the call after the failed commit";
  }
}

// The connection is lost at every statement of an UpdateInsert in turn, the statements after its
// first write included: the call raises, nothing of it stays, and the same call made again on the
// same connection string gets a working connection, never the lost one. The lost connection's
// rollback either fails or returns quietly, so the pool cannot rely on a failed rollback alone to
// tell that the connection is gone.
TEST_F(FaultInjectionTest, AConnectionLostInTheMiddleOfAChangeIsNeverHandedOutAgain) {
  const Operation& updateInsert = Operations().front();
  const CleanRun clean = Clean(updateInsert);
  std::size_t firstWrite = 0;
  for (std::size_t i = 0; i < clean.statements.size() && firstWrite == 0; ++i)
    if (clean.statements[i].starts_with("DELETE") || clean.statements[i].starts_with("INSERT")) firstWrite = i + 1;
  ASSERT_NE(firstWrite, 0u) << "the clean run wrote nothing";
  ASSERT_LT(firstWrite, clean.statements.size()) << "nothing runs after the first write";

  using LostRollback = FaultyProvider::LostRollback;
  for (const LostRollback rollback : {LostRollback::Raises, LostRollback::Succeeds}) {
    for (std::size_t k = 1; k <= clean.statements.size(); ++k) {
      SCOPED_TRACE("connection lost at statement " + std::to_string(k) + " of " + std::to_string(clean.statements.size()) +
                   (k == firstWrite + 1 ? " (the one after the first write)" : "") + ", its rollback " +
                   (rollback == LostRollback::Raises ? "raising" : "quiet") + ": " + clean.statements[k - 1]);
      SeededDatabase db;
      const std::vector<std::string> before = db.Table();
      auto update = TempDatabase::Create("Morvane.VchTempSetUpdate");

      provider_.DropAtStatement(static_cast<int>(k), rollback);
      const auto error = Raised([&] { updateInsert.call(*update, FreshDsn(db.ConnectString())); });
      provider_.Disarm();
      ASSERT_TRUE(provider_.Struck());
      ASSERT_TRUE(error.has_value()) << "a call whose connection was lost was reported as success";
      EXPECT_NE(error->Number(), 0) << Describe(*error);
      EXPECT_EQ(db.Table(), before) << "raised " << Describe(*error);

      const auto again = Raised([&] { updateInsert.call(*update, FreshDsn(db.ConnectString())); });
      EXPECT_FALSE(again.has_value()) << "the next call failed: " << Describe(*again);
      EXPECT_EQ(provider_.UsesAfterDisarm(), 0) << "the lost connection was handed out again";
      EXPECT_EQ(db.Table(), clean.table);
    }
  }
}

// The child holds the write lock until it is released: an immediate transaction with a row
// written in it, rolled back as its connection closes.
constexpr const char* kHoldTheWriteLock =
    "BEGIN IMMEDIATE; INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID,FRemark) "
    "VALUES ('CHILD','301','D01','E01','held')";

TEST(LockedDatabaseTest, AppendWhileAnotherProcessHoldsTheLockFailsClearlyAndWritesNothing) {
  SeededDatabase db;
  const std::vector<std::string> before = db.Table();
  // A short wait for the lock; its own pool of connections, as the text differs.
  const std::string connectString = db.ConnectString() + ";Busy Timeout=50";
  const std::string dsn = "ConnectString={" + connectString +
                          "};UserName=tester;UserID=1;DBMS Name=SQLite;DBMS Version=test;LANGUAGE=chs;AcctType=GY";
  auto update = TempDatabase::Create("Morvane.VchTempSetUpdate");
  auto rows = TempDatabase::List({Row("V3", "301", "D01", "E01", "x", 1), Row("V3", "301", "D02", "E01", "y", 2)});
  // The description works while nobody holds the lock, so the failure below is the lock's.
  automation::Call(*update, "Delete", dsn, TempDatabase::Record({{"FVchClass", "nothing"}}), true);

  // No connection of this process may stay open on the file across fork: the child's SQLite
  // library must not inherit this process's lock bookkeeping for it.
  db::ConnectionPool::Instance().Clear();
  HeldDatabase child(db.path_, kHoldTheWriteLock);
  ASSERT_TRUE(child.holding()) << "the child could not lock the database";

  const auto error = Raised([&] { automation::Call(*update, "Append", dsn, rows, true); });
  ASSERT_TRUE(error.has_value()) << "an Append on a locked database was reported as success";
  EXPECT_EQ(db::sqlite::SqliteResultCode(error->Number()) & 0xFF, SQLITE_BUSY) << Describe(*error);
  EXPECT_NE(error->Description().find("database is locked"), std::string::npos) << Describe(*error);
  EXPECT_EQ(db.Table(), before);

  child.Release();
  automation::Call(*update, "Append", dsn, rows, true);
  std::vector<std::string> after = db.Table();
  ASSERT_EQ(after.size(), before.size() + 2) << "the Append's two rows and nothing of the child's";
  after.erase(std::remove_if(after.begin(), after.end(), [](const std::string& row) { return row.starts_with("V3|"); }),
              after.end());
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace morvane::testing
