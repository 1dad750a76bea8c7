// The ODBC provider against real databases: PostgreSQL, MariaDB and SQLite through their ODBC
// drivers, each reached by the connection string in its environment variable (set by
// scripts/with-databases.sh); a backend whose variable is unset is skipped. Each test works on
// tables of its own, dropped first.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db_test_support.h"
#include "platform/automation/convert.h"
#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/odbc/odbc_error.h"
#include "platform/db/odbc/odbc_provider.h"

namespace morvane::db {
namespace {

using automation::Variant;
using testing::Describe;
using testing::ErrorOf;

struct Backend {
  const char* name;
  const char* variable;
  const char* dbmsName;
  const char* timestampType;
  const char* blobType;
  // The statement that gives the session's server-side identifier, and the one that ends the
  // session of the identifier "?" (nullptr: the product has no sessions to end).
  const char* sessionId;
  const char* killSession;
};

const Backend kBackends[] = {
    {"PostgreSQL", "MORVANE_TEST_PG", "PostgreSQL", "TIMESTAMP", "BYTEA", "SELECT pg_backend_pid()",
     "SELECT pg_terminate_backend(?)"},
    {"MariaDB", "MORVANE_TEST_MARIADB", "MariaDB", "DATETIME", "LONGBLOB", "SELECT CONNECTION_ID()", "KILL ?"},
    {"SQLiteOdbc", "MORVANE_TEST_SQLITE_ODBC", "SQLite", "TIMESTAMP", "BLOB", nullptr, nullptr},
};

void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

BoundParameter Param(int type, Variant value) { return BoundParameter{"p", type, adParamInput, 0, std::move(value)}; }

class OdbcBackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const char* cs = std::getenv(GetParam().variable);
    if (cs == nullptr || *cs == '\0')
      GTEST_SKIP() << GetParam().variable << " is not set: run through scripts/with-databases.sh to test "
                   << GetParam().name;
    connectionString_ = cs;
    conn_ = Connect();
  }

  std::unique_ptr<PhysicalConnection> Connect() const {
    return ProviderFor(connectionString_).Connect(connectionString_);
  }
  ResultSet Run(const std::string& sql, std::vector<BoundParameter> params = {}) { return conn_->Execute(sql, params); }
  // Drops the table when it exists and creates it anew.
  void Table(const std::string& name, const std::string& columns) {
    Run("DROP TABLE IF EXISTS " + name);
    Run("CREATE TABLE " + name + " (" + columns + ")");
  }
  std::int64_t Count(const std::string& table) {
    return automation::ToLong(Run("SELECT COUNT(*) FROM " + table).rows.at(0).at(0));
  }

  std::string connectionString_;
  std::unique_ptr<PhysicalConnection> conn_;
};

// The program's locale is "C" unless it sets one (a driver may set it for the whole process:
// psqlODBC does); the texts must come through whatever it is.
class CLocale {
 public:
  CLocale() : previous_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
  ~CLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

 private:
  std::string previous_;
};

TEST_P(OdbcBackendTest, ChineseTextsRoundTripThroughParametersAndLiterals) {
  CLocale locale;
  Table("odbc_text", "id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(100), wide VARCHAR(100)");
  const std::vector<std::string> texts = {"费用部门", "資料類型不正確", "辅助生产费用 + ASCII", "它's", ""};
  for (std::size_t i = 0; i < texts.size(); ++i)
    Run("INSERT INTO odbc_text (id, name, wide) VALUES (?, ?, ?)",
        {Param(adInteger, static_cast<std::int32_t>(i)), Param(adVarWChar, texts[i]), Param(adVarChar, texts[i])});
  const ResultSet rs = Run("SELECT name, wide, '制造费用' AS FTypeName FROM odbc_text ORDER BY id");
  ASSERT_EQ(rs.rows.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(rs.rows[i][0], Variant(texts[i])) << i;
    EXPECT_EQ(rs.rows[i][1], Variant(texts[i])) << i;
    EXPECT_EQ(rs.rows[i][2], Variant("制造费用")) << "a literal in the statement text";
  }
  EXPECT_EQ(rs.columns[2].name, "FTypeName");
  const ResultSet found = Run("SELECT id FROM odbc_text WHERE name = ?", {Param(adVarWChar, "資料類型不正確")});
  ASSERT_EQ(found.rows.size(), 1u);
  EXPECT_EQ(found.rows[0][0], Variant(std::int32_t{1}));

  // Literals beyond ASCII over several lines, as the product scripts write them.
  Run("INSERT INTO odbc_text (id, name) VALUES\n  (10, '一车间'),\n  (11, '装配车间'),\n  (12, '供电车间')");
  EXPECT_EQ(Run("SELECT name FROM odbc_text WHERE id >= 10 ORDER BY id").rows,
            (std::vector<std::vector<Variant>>{{Variant("一车间")}, {Variant("装配车间")}, {Variant("供电车间")}}));
}

TEST_P(OdbcBackendTest, ValuesComeBackAsTheSqliteProviderGivesThem) {
  Table("odbc_types", std::string("id INTEGER NOT NULL PRIMARY KEY, small SMALLINT, big BIGINT, amount DECIMAL(19,4), "
                                  "ratio DOUBLE PRECISION, at ") +
                          GetParam().timestampType + ", data " + GetParam().blobType + ", name VARCHAR(20)");
  const automation::Date when = automation::MakeDate({2024, 1, 5, 10, 30, 15});
  Run("INSERT INTO odbc_types VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
      {Param(adInteger, std::int32_t{1}), Param(adSmallInt, "7"), Param(adBigInt, 5000000000.0),
       Param(adCurrency, automation::Currency{125000}), Param(adDouble, 0.25), Param(adDBTimeStamp, Variant(when)),
       Param(adLongVarBinary, automation::Bytes{0, 1, 255}), Param(adVarWChar, Variant::Null())});
  Run("INSERT INTO odbc_types (id, big, amount) VALUES (?, ?, ?)",
      {Param(adInteger, std::int32_t{2}), Param(adBigInt, 12.0), Param(adCurrency, "3")});

  const ResultSet rs = Run("SELECT id, small, big, amount, ratio, at, data, name FROM odbc_types ORDER BY id");
  ASSERT_EQ(rs.rows.size(), 2u);
  const std::vector<std::string> first = {
      "I4 1", "I4 7", "R8 5000000000", "R8 12.5", "R8 0.25", "DATE 1/5/2024 10:30:15 AM", "BYTES", "Null"};
  const std::vector<std::string> second = {"I4 2", "Null", "I4 12", "I4 3", "Null", "Null", "Null", "Null"};
  for (std::size_t c = 0; c < first.size(); ++c) {
    EXPECT_EQ(Describe(rs.rows[0][c]), first[c]) << rs.columns[c].name;
    EXPECT_EQ(Describe(rs.rows[1][c]), second[c]) << rs.columns[c].name;
  }
  EXPECT_EQ(rs.rows[0][6], Variant(automation::Bytes{0, 1, 255}));
  EXPECT_EQ(rs.columns[0].type, adInteger);
  EXPECT_EQ(rs.columns[2].type, adBigInt);
  EXPECT_EQ(rs.columns[5].type, adDBTimeStamp);
}

TEST_P(OdbcBackendTest, RowsAffectedCountsChangedRowsOnly) {
  Table("odbc_count", "id INTEGER NOT NULL PRIMARY KEY, v INTEGER");
  EXPECT_EQ(Run("INSERT INTO odbc_count VALUES (1, 0)").rowsAffected, 1);
  EXPECT_EQ(Run("INSERT INTO odbc_count VALUES (2, 0)").rowsAffected, 1);
  EXPECT_EQ(Run("UPDATE odbc_count SET v = 5").rowsAffected, 2);
  EXPECT_EQ(Run("UPDATE odbc_count SET v = 6 WHERE id = 99").rowsAffected, 0);
  EXPECT_EQ(Run("SELECT * FROM odbc_count").rowsAffected, -1);
  EXPECT_EQ(Run("DELETE FROM odbc_count WHERE id = ?", {Param(adInteger, std::int32_t{1})}).rowsAffected, 1);
  EXPECT_EQ(Count("odbc_count"), 1);
}

TEST_P(OdbcBackendTest, ColumnsKeepTheStatementsSpelling) {
  Table("odbc_names", "FTypeID VARCHAR(10), FExpDeptID VARCHAR(10)");
  Run("INSERT INTO odbc_names VALUES ('301', '01')");
  const ResultSet listed =
      Run("SELECT '201' AS FTYPEID, d.FTypeID, c.* FROM odbc_names d, "
          "(SELECT FExpDeptID AS FExpenseID FROM odbc_names) c ORDER BY d.FTypeID");
  ASSERT_EQ(listed.columns.size(), 3u);
  EXPECT_EQ(listed.columns[0].name, "FTYPEID");
  EXPECT_EQ(listed.columns[2].name, "FExpenseID");
  EXPECT_TRUE(automation::EqualsIgnoreCase(listed.columns[1].name, "FTypeID")) << listed.columns[1].name;
}

TEST_P(OdbcBackendTest, ErrorsCarrySqlStateMessageAndStatement) {
  Table("odbc_keys", "id INTEGER NOT NULL PRIMARY KEY");
  Run("INSERT INTO odbc_keys VALUES (1)");
  const automation::Error duplicate = ErrorOf([&] { Run("INSERT INTO odbc_keys VALUES (1)"); });
  EXPECT_EQ(duplicate.Source(), odbc::kOdbcSource);
  EXPECT_GE(odbc::OdbcNativeError(duplicate.Number()), 0) << duplicate.Number();
  EXPECT_NE(duplicate.Description().find("SQLSTATE "), std::string::npos) << duplicate.Description();
  EXPECT_NE(duplicate.Description().find("INSERT INTO odbc_keys VALUES (1)"), std::string::npos)
      << duplicate.Description();

  const automation::Error missing = ErrorOf([&] { Run("SELECT * FROM odbc_no_such_table"); });
  EXPECT_NE(missing.Description().find("odbc_no_such_table"), std::string::npos) << missing.Description();

  const automation::Error count = ErrorOf([&] { Run("SELECT * FROM odbc_keys WHERE id = ?"); });
  EXPECT_NE(count.Description().find("1 parameter markers but 0"), std::string::npos) << count.Description();

  EXPECT_TRUE(conn_->IsUsable()) << "statement errors leave the connection fit";
  EXPECT_EQ(Count("odbc_keys"), 1);
}

TEST_P(OdbcBackendTest, TransactionsCommitAndRollBack) {
  Table("odbc_tx", "id INTEGER NOT NULL PRIMARY KEY");
  conn_->Begin();
  Run("INSERT INTO odbc_tx VALUES (1)");
  conn_->Rollback();
  EXPECT_EQ(Count("odbc_tx"), 0);

  conn_->Begin();
  Run("INSERT INTO odbc_tx VALUES (2)");
  conn_->Commit();
  EXPECT_EQ(Count("odbc_tx"), 1);
  Run("INSERT INTO odbc_tx VALUES (3)");  // autocommit again
  auto other = Connect();
  EXPECT_EQ(automation::ToLong(other->Execute("SELECT COUNT(*) FROM odbc_tx", {}).rows.at(0).at(0)), 2);
  conn_->Rollback();  // no transaction: no effect
}

TEST_P(OdbcBackendTest, FailedStatementInsideATransactionLeavesTheEarlierOnesToCommit) {
  Table("odbc_stmt", "id INTEGER NOT NULL PRIMARY KEY");
  conn_->Begin();
  Run("INSERT INTO odbc_stmt VALUES (1)");
  ErrorOf([&] { Run("INSERT INTO odbc_stmt VALUES (1)"); });
  Run("INSERT INTO odbc_stmt VALUES (2)");
  conn_->Commit();
  EXPECT_EQ(Count("odbc_stmt"), 2);
}

TEST_P(OdbcBackendTest, IsolationStatementsSetTheLevelOutsideAndAreAcceptedInsideATransaction) {
  Table("odbc_iso", "id INTEGER");
  for (const char* sql :
       {"SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED", "SET TRANSACTION ISOLATION LEVEL READ COMMITTED",
        "set transaction isolation level serializable;"})
    EXPECT_NO_THROW(Run(sql)) << sql;
  conn_->Begin();
  Run("INSERT INTO odbc_iso VALUES (1)");
  EXPECT_NO_THROW(Run("SET TRANSACTION ISOLATION LEVEL READ COMMITTED"));
  EXPECT_NO_THROW(Run("SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED"));
  conn_->Commit();
  EXPECT_EQ(Count("odbc_iso"), 1);
}

TEST_P(OdbcBackendTest, PropertiesComeFromTheDriver) {
  const auto properties = conn_->Properties();
  auto find = [&](const std::string& name) -> const Variant* {
    for (const auto& [n, v] : properties)
      if (n == name) return &v;
    return nullptr;
  };
  ASSERT_NE(find("DBMS Name"), nullptr);
  EXPECT_EQ(*find("DBMS Name"), Variant(GetParam().dbmsName));
  ASSERT_NE(find("DBMS Version"), nullptr);
  EXPECT_FALSE(find("DBMS Version")->text().empty());
  for (const char* name :
       {"Multiple Results", "Numeric Functions", "String Functions", "System Functions", "Time/Date Functions"}) {
    ASSERT_NE(find(name), nullptr) << name;
    EXPECT_EQ(find(name)->vt(), automation::VT_I4) << name;
  }
  ASSERT_NE(find("Like Escape Clause"), nullptr);
  EXPECT_TRUE(find("Like Escape Clause")->text() == "Y" || find("Like Escape Clause")->text() == "N");
  ASSERT_NE(find("Integrity Enhancement Facility"), nullptr);
  EXPECT_EQ(find("Integrity Enhancement Facility")->vt(), automation::VT_BOOL);
}

// A session ended by the server between two statements of a transaction: the next statement
// fails with a clear error, the connection is no longer handed out, and nothing of the
// transaction stays.
TEST_P(OdbcBackendTest, SessionEndedByTheServerFailsTheNextStatementAndLeavesNothing) {
  if (GetParam().killSession == nullptr) GTEST_SKIP() << GetParam().name << " has no server sessions to end";
  Table("odbc_kill", "id INTEGER NOT NULL PRIMARY KEY");
  const Variant session = Run(GetParam().sessionId).rows.at(0).at(0);
  conn_->Begin();
  Run("INSERT INTO odbc_kill VALUES (1)");

  auto killer = Connect();
  killer->Execute(GetParam().killSession, std::vector<BoundParameter>{Param(adBigInt, session)});

  const automation::Error e = ErrorOf([&] { Run("INSERT INTO odbc_kill VALUES (2)"); });
  EXPECT_EQ(e.Source(), odbc::kOdbcSource);
  EXPECT_NE(e.Description().find("INSERT INTO odbc_kill VALUES (2)"), std::string::npos) << e.Description();
  EXPECT_FALSE(conn_->IsUsable()) << e.Description();
  EXPECT_ANY_THROW(conn_->Commit()) << "a lost transaction is never reported as committed";
  EXPECT_EQ(automation::ToLong(killer->Execute("SELECT COUNT(*) FROM odbc_kill", {}).rows.at(0).at(0)), 0);
}

// A session ended while the connection is idle: the isolation statement, which the data source
// sends first on every connection it opens, finds it out and opens a new session in its place.
TEST_P(OdbcBackendTest, IdleSessionEndedByTheServerIsReplacedByTheIsolationStatement) {
  if (GetParam().killSession == nullptr) GTEST_SKIP() << GetParam().name << " has no server sessions to end";
  const Variant session = Run(GetParam().sessionId).rows.at(0).at(0);
  auto killer = Connect();
  killer->Execute(GetParam().killSession, std::vector<BoundParameter>{Param(adBigInt, session)});

  EXPECT_NO_THROW(Run("SET TRANSACTION ISOLATION LEVEL READ COMMITTED"));
  EXPECT_TRUE(conn_->IsUsable());
  const Variant now = Run(GetParam().sessionId).rows.at(0).at(0);
  EXPECT_NE(automation::ToText(now), automation::ToText(session)) << "a new session";
}

// A session ended while a long statement runs: the statement fails instead of hanging.
TEST_P(OdbcBackendTest, SessionEndedDuringALongStatementFailsIt) {
  if (GetParam().killSession == nullptr) GTEST_SKIP() << GetParam().name << " has no server sessions to end";
  const Variant session = Run(GetParam().sessionId).rows.at(0).at(0);
  const std::string sleep =
      GetParam().dbmsName == std::string("PostgreSQL") ? "SELECT pg_sleep(60)" : "SELECT SLEEP(60)";
  auto running = std::async(std::launch::async, [&] { return testing::Raised([&] { Run(sleep); }); });
  auto killer = Connect();
  const std::string activity =
      GetParam().dbmsName == std::string("PostgreSQL")
          ? "SELECT COUNT(*) FROM pg_stat_activity WHERE pid = ? AND query LIKE '%sleep%'"
          : "SELECT COUNT(*) FROM information_schema.processlist WHERE id = ? AND info LIKE '%SLEEP%'";
  // Waits (bounded) until the server runs the statement, then ends the session.
  for (int i = 0; i < 500; ++i) {
    if (automation::ToLong(
            killer->Execute(activity, std::vector<BoundParameter>{Param(adBigInt, session)}).rows.at(0).at(0)) > 0)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  killer->Execute(GetParam().killSession, std::vector<BoundParameter>{Param(adBigInt, session)});
  const std::optional<automation::Error> raised = running.get();
  const std::string description = raised ? raised->Description() : "no error";
  EXPECT_NE(description, "no error");
  EXPECT_NE(description.find("SQLSTATE"), std::string::npos) << description;
}

INSTANTIATE_TEST_SUITE_P(Backends, OdbcBackendTest, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace morvane::db
