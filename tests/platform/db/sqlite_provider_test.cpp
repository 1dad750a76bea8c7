// The SQLite provider beneath the data-access objects: binding, reading, errors, isolation
// statements, transactions, locks and properties, on temporary database files.
#include "platform/db/sqlite/sqlite_provider.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include "db_test_support.h"
#include "platform/automation/convert.h"
#include "platform/db/ado_constants.h"
#include "platform/db/sqlite/sqlite_error.h"

namespace morvane::db {
namespace {

using automation::Bytes;
using automation::Variant;
using sqlite::SqliteProvider;
using sqlite::SqliteResultCode;
using testing::Describe;
using testing::ErrorOf;
using testing::TempDatabase;

std::unique_ptr<PhysicalConnection> Connect(const std::string& cs) { return SqliteProvider::Instance().Connect(cs); }

BoundParameter Param(int type, Variant value, int direction = adParamInput) {
  return BoundParameter{"p", type, direction, 0, std::move(value)};
}

class SqliteProviderTest : public ::testing::Test {
 protected:
  TempDatabase db{"CREATE TABLE v (x);"
                  "CREATE TABLE k (id INTEGER PRIMARY KEY, name NVARCHAR(20) NOT NULL);"};
  std::unique_ptr<PhysicalConnection> conn = Connect(db.connectionString());
};

TEST_F(SqliteProviderTest, ParametersOfEachTypeRoundTrip) {
  const automation::Date when = automation::MakeDate({2024, 1, 5, 10, 30, 15});
  struct Case {
    int type;
    Variant in;
    const char* storage;  // SQLite's typeof() of the stored value
    Variant out;
  };
  const Case cases[] = {
      {adInteger, std::int32_t{42}, "integer", std::int32_t{42}},
      {adInteger, "42", "integer", std::int32_t{42}},
      {adInteger, 2.5, "integer", std::int32_t{2}},
      {adSmallInt, std::int32_t{-7}, "integer", std::int32_t{-7}},
      {adTinyInt, std::int16_t{-3}, "integer", std::int32_t{-3}},
      {adUnsignedTinyInt, std::int32_t{200}, "integer", std::int32_t{200}},
      {adBoolean, true, "integer", std::int32_t{1}},
      {adBoolean, "False", "integer", std::int32_t{0}},
      {adBigInt, "12345678901", "integer", 12345678901.0},
      {adBigInt, 3.5, "integer", std::int32_t{4}},
      {adDouble, 1.25, "real", 1.25},
      {adDouble, "1.5E3", "real", 1500.0},
      {adSingle, 0.5f, "real", 0.5},
      {adNumeric, "12.25", "real", 12.25},
      {adDecimal, std::int32_t{3}, "real", 3.0},
      {adCurrency, automation::Currency{123450}, "text", "12.345"},
      {adCurrency, "1,234.5", "text", "1234.5"},
      {adDate, when, "text", "2024-01-05 10:30:15"},
      {adDBTimeStamp, "2024-01-05 10:30:15", "text", "2024-01-05 10:30:15"},
      {adDBDate, when, "text", "2024-01-05"},
      {adDBTime, when, "text", "10:30:15"},
      {adVarWChar, "h\xC3\xA9llo \xE4\xB8\xAD\xE6\x96\x87", "text", "h\xC3\xA9llo \xE4\xB8\xAD\xE6\x96\x87"},
      {adVarWChar, std::int32_t{12}, "text", "12"},
      {adVarWChar, "", "text", ""},
      {adChar, "it's", "text", "it's"},
      {adLongVarBinary, Bytes{0, 1, 255}, "blob", Bytes{0, 1, 255}},
      {adVarBinary, Bytes{}, "blob", Bytes{}},
      {adVarWChar, Variant::Null(), "null", Variant::Null()},
      {adInteger, Variant(), "null", Variant::Null()},
      {adEmpty, std::int32_t{5}, "integer", std::int32_t{5}},
      {adEmpty, "x", "text", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + ", value " + Describe(c.in));
    conn->Execute("DELETE FROM v", {});
    const BoundParameter p[] = {Param(c.type, c.in)};
    conn->Execute("INSERT INTO v VALUES (?)", p);
    const ResultSet rs = conn->Execute("SELECT x, typeof(x) FROM v", {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][1], Variant(c.storage));
    EXPECT_EQ(rs.rows[0][0], c.out) << "read back " << Describe(rs.rows[0][0]);
  }
}

TEST_F(SqliteProviderTest, ParametersThatCannotBeBoundRaiseWithContext) {
  struct Case {
    BoundParameter param;
    std::int32_t number;
  };
  const Case cases[] = {
      {Param(adInteger, "abc"), automation::errors::kTypeMismatch},
      {Param(adSmallInt, std::int32_t{70000}), automation::errors::kOverflow},
      {Param(adBigInt, 1e300), automation::errors::kOverflow},
      {Param(999, std::int32_t{1}), adErrInvalidArgument},
      {Param(adInteger, std::int32_t{1}, 2), adErrInvalidArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.param.type) + ", value " + Describe(c.param.value));
    const BoundParameter p[] = {c.param};
    const automation::Error e = ErrorOf([&] { conn->Execute("INSERT INTO v VALUES (?)", p); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_NE(e.Description().find("parameter 1"), std::string::npos) << e.Description();
  }
  // The conversion failures also name the statement.
  const BoundParameter p[] = {Param(adInteger, "abc")};
  const automation::Error e = ErrorOf([&] { conn->Execute("INSERT INTO v VALUES (?)", p); });
  EXPECT_NE(e.Description().find("statement: INSERT INTO v VALUES (?)"), std::string::npos) << e.Description();
  EXPECT_TRUE(conn->Execute("SELECT * FROM v", {}).rows.empty());
}

TEST_F(SqliteProviderTest, ParameterCountMustMatchTheMarkers) {
  const BoundParameter one[] = {Param(adInteger, std::int32_t{1})};
  const automation::Error e = ErrorOf([&] { conn->Execute("INSERT INTO k VALUES (?, ?)", one); });
  EXPECT_EQ(SqliteResultCode(e.Number()), SQLITE_RANGE);
  EXPECT_NE(e.Description().find("2 parameter markers but 1"), std::string::npos) << e.Description();
  EXPECT_TRUE(conn->Execute("SELECT * FROM k", {}).rows.empty());
}

TEST_F(SqliteProviderTest, BindingsDoNotCarryOverToTheNextRun) {
  const BoundParameter first[] = {Param(adVarWChar, "kept")};
  conn->Execute("INSERT INTO v VALUES (?)", first);
  const BoundParameter null[] = {Param(adVarWChar, Variant::Null())};
  conn->Execute("INSERT INTO v VALUES (?)", null);
  const ResultSet rs = conn->Execute("SELECT x FROM v ORDER BY rowid", {});
  ASSERT_EQ(rs.rows.size(), 2u);
  EXPECT_EQ(rs.rows[0][0], Variant("kept"));
  EXPECT_TRUE(rs.rows[1][0].IsNull());
}

TEST_F(SqliteProviderTest, ColumnsCarryTheirNamesAndDataTypes) {
  conn->Execute(
      "CREATE TABLE typed (FID INTEGER, FName NVARCHAR(20), FNote TEXT, FCode VARCHAR(10), FReal REAL, "
      "FFloat FLOAT, FDouble DOUBLE PRECISION, FData BLOB, FWhen DATETIME, FDay DATE, FFlag BOOLEAN, FBig BIGINT, "
      "FSmall SMALLINT, FAmount DECIMAL(18,4))",
      {});
  conn->Execute(
      "INSERT INTO typed VALUES (7, 'n', 't', 'c', 1.5, 2.5, 3.5, x'0102', '2024-01-05 10:30:00', '2024-01-05', 1, "
      "5000000000, 3, 12.5)",
      {});
  const ResultSet rs = conn->Execute(
      "SELECT *, FID AS Alias, FID + 1, 'x', 1.5, x'00', NULL, 5000000000 AS Big FROM typed", {});
  struct Expected {
    const char* name;
    int type;
    Variant value;
  };
  const Expected expected[] = {
      {"FID", adInteger, std::int32_t{7}},
      {"FName", adVarWChar, "n"},
      {"FNote", adVarWChar, "t"},
      {"FCode", adVarWChar, "c"},
      {"FReal", adDouble, 1.5},
      {"FFloat", adDouble, 2.5},
      {"FDouble", adDouble, 3.5},
      {"FData", adLongVarBinary, Bytes{1, 2}},
      {"FWhen", adDBTimeStamp, automation::MakeDate({2024, 1, 5, 10, 30, 0})},
      {"FDay", adDBDate, automation::MakeDate({2024, 1, 5, 0, 0, 0})},
      {"FFlag", adBoolean, true},
      {"FBig", adBigInt, 5000000000.0},
      {"FSmall", adSmallInt, std::int32_t{3}},
      {"FAmount", adNumeric, 12.5},
      {"Alias", adInteger, std::int32_t{7}},
      {"FID + 1", adInteger, std::int32_t{8}},
      {"'x'", adVarWChar, "x"},
      {"1.5", adDouble, 1.5},
      {"x'00'", adLongVarBinary, Bytes{0}},
      {"NULL", adVarWChar, Variant::Null()},
      {"Big", adDouble, 5000000000.0},
  };
  ASSERT_EQ(rs.columns.size(), std::size(expected));
  ASSERT_EQ(rs.rows.size(), 1u);
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(rs.columns[i].name, expected[i].name);
    EXPECT_EQ(rs.columns[i].type, expected[i].type);
    EXPECT_EQ(rs.rows[0][i], expected[i].value) << Describe(rs.rows[0][i]);
  }
}

TEST_F(SqliteProviderTest, ADateColumnKeepsTextThatIsNoDate) {
  conn->Execute("CREATE TABLE d (FWhen DATETIME)", {});
  conn->Execute("INSERT INTO d VALUES ('not a date')", {});
  EXPECT_EQ(conn->Execute("SELECT FWhen FROM d", {}).rows.at(0).at(0), Variant("not a date"));
}

TEST_F(SqliteProviderTest, AnEmptyResultStillHasItsColumns) {
  const ResultSet rs = conn->Execute("SELECT id, name FROM k WHERE id = -1", {});
  ASSERT_EQ(rs.columns.size(), 2u);
  EXPECT_EQ(rs.columns[0].type, adInteger);
  EXPECT_EQ(rs.columns[1].type, adVarWChar);
  EXPECT_TRUE(rs.rows.empty());
  EXPECT_EQ(rs.rowsAffected, -1);
}

TEST_F(SqliteProviderTest, RowsAffectedCountsOnlyChangedRows) {
  struct Case {
    const char* sql;
    std::int64_t rows;
  };
  const Case cases[] = {
      {"INSERT INTO k (id, name) VALUES (1, 'a'), (2, 'b'), (3, 'c')", 3},
      {"UPDATE k SET name = 'z' WHERE id >= 2", 2},
      {"SELECT * FROM k", -1},  // not the rows of the last change, nor the rows returned
      {"DELETE FROM k WHERE id = 99", 0},
      {"REPLACE INTO k (id, name) VALUES (1, 'r')", 1},
      {"WITH gone(id) AS (SELECT 3) DELETE FROM k WHERE id IN gone", 1},
      {"WITH one(id) AS (SELECT 1) SELECT * FROM one", -1},
      {"  /* comment */ -- line\n delete FROM k", 2},
      {"CREATE TABLE other (a)", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(conn->Execute(c.sql, {}).rowsAffected, c.rows);
  }
}

TEST_F(SqliteProviderTest, ErrorsCarryTheDatabaseMessageAndTheStatement) {
  conn->Execute("INSERT INTO k VALUES (1, 'a')", {});
  struct Case {
    const char* sql;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"SELEC 1", SQLITE_ERROR, "syntax error"},
      {"SELECT nope FROM k", SQLITE_ERROR, "no such column: nope"},
      {"INSERT INTO k VALUES (1, 'again')", SQLITE_CONSTRAINT_PRIMARYKEY, "UNIQUE constraint failed: k.id"},
      {"INSERT INTO k (id) VALUES (2)", SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: k.name"},
      {"", SQLITE_ERROR, "holds no statement"},
      {"  -- nothing\n", SQLITE_ERROR, "holds no statement"},
      {"DELETE FROM k; DROP TABLE k", SQLITE_ERROR, "more than one statement"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const automation::Error e = ErrorOf([&] { conn->Execute(c.sql, {}); });
    EXPECT_EQ(e.Number(), sqlite::SqliteErrorNumber(c.code));
    EXPECT_EQ(e.Source(), "Morvane.SQLite");
    EXPECT_NE(e.Description().find(c.message), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("[statement: " + std::string(c.sql) + "]"), std::string::npos) << e.Description();
    EXPECT_LT(e.Number(), 0) << "a failure result code, not one of the system's small numbers";
  }
  // The statement of several was not run in part, and the connection still works.
  EXPECT_EQ(conn->Execute("SELECT count(*) FROM k", {}).rows.at(0).at(0), Variant(std::int32_t{1}));
  EXPECT_TRUE(conn->IsUsable());
}

TEST_F(SqliteProviderTest, AStatementPreparedBeforeASchemaChangeSeesTheNewSchema) {
  conn->Execute("INSERT INTO k VALUES (1, 'a')", {});
  EXPECT_EQ(conn->Execute("SELECT * FROM k", {}).columns.size(), 2u);
  conn->Execute("ALTER TABLE k ADD COLUMN extra INTEGER DEFAULT 9", {});
  const ResultSet rs = conn->Execute("SELECT * FROM k", {});
  ASSERT_EQ(rs.columns.size(), 3u);
  EXPECT_EQ(rs.rows.at(0).at(2), Variant(std::int32_t{9}));
}

TEST_F(SqliteProviderTest, TheIsolationStatementIsUnderstoodInAnyLetterCase) {
  struct Case {
    const char* sql;
    std::int32_t readUncommitted;
  };
  const Case cases[] = {
      {"SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED", 1},
      {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED", 0},
      {"set transaction isolation level read uncommitted;", 1},
      {"  Set  Transaction\n\tIsolation Level Read Committed  ", 0},
      {"SET TRANSACTION ISOLATION LEVEL SERIALIZABLE", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const ResultSet rs = conn->Execute(c.sql, {});
    EXPECT_TRUE(rs.columns.empty());
    EXPECT_EQ(rs.rowsAffected, -1);
    EXPECT_EQ(conn->Execute("PRAGMA read_uncommitted", {}).rows.at(0).at(0), Variant(c.readUncommitted));
  }
  // Other levels go to the database, which rejects them.
  const automation::Error e = ErrorOf([&] { conn->Execute("SET TRANSACTION ISOLATION LEVEL SNAPSHOT", {}); });
  EXPECT_EQ(e.Source(), "Morvane.SQLite");
}

TEST(SqliteProviderOpenTest, AMissingFileIsNotCreatedAndTheErrorNamesThePath) {
  TempDatabase db;
  const std::string missing = (db.dir() / "missing.db").string();
  for (const std::string& source : {missing, "file:" + missing + "?mode=rwc"}) {
    SCOPED_TRACE(source);
    const automation::Error e = ErrorOf([&] { Connect("Provider=SQLite;Data Source=" + source); });
    EXPECT_EQ(SqliteResultCode(e.Number()), SQLITE_CANTOPEN);
    EXPECT_EQ(e.Source(), "Morvane.SQLite");
    EXPECT_NE(e.Description().find(source), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("does not exist"), std::string::npos) << e.Description();
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(db.dir()), std::filesystem::directory_iterator()), 1)
      << "only the test's own database is in the folder";
}

TEST(SqliteProviderOpenTest, AFileThatIsNoDatabaseIsRefusedNamingThePath) {
  TempDatabase db;
  const std::string path = (db.dir() / "notes.txt").string();
  std::ofstream(path) << "These are not the pages of a database, but they are long enough to look like a header.";
  const automation::Error e = ErrorOf([&] { Connect("Provider=SQLite;Data Source=" + path); });
  EXPECT_EQ(SqliteResultCode(e.Number()), SQLITE_NOTADB);
  EXPECT_NE(e.Description().find(path), std::string::npos) << e.Description();
}

TEST(SqliteProviderOpenTest, BadOptionsRaise3001) {
  TempDatabase db;
  const std::string cases[] = {
      "Provider=SQLite",
      "Provider=SQLite;Data Source=",
      db.connectionString() + ";Busy Timeout=soon",
      db.connectionString() + ";Busy Timeout=-1",
      db.connectionString() + ";Foreign Keys=maybe",
  };
  for (const std::string& cs : cases) {
    SCOPED_TRACE(cs);
    EXPECT_EQ(ErrorOf([&] { Connect(cs); }).Number(), adErrInvalidArgument);
  }
}

TEST(SqliteProviderOpenTest, ForeignKeysAreEnforcedUnlessSwitchedOff) {
  const char* schema =
      "CREATE TABLE parent (id INTEGER PRIMARY KEY);"
      "CREATE TABLE child (id INTEGER, parent INTEGER REFERENCES parent(id));";
  TempDatabase db(schema);
  const automation::Error e = ErrorOf([&] { Connect(db.connectionString())->Execute("INSERT INTO child VALUES (1, 5)", {}); });
  EXPECT_EQ(SqliteResultCode(e.Number()), SQLITE_CONSTRAINT_FOREIGNKEY);
  EXPECT_NO_THROW(Connect(db.connectionString() + ";Foreign Keys=False")->Execute("INSERT INTO child VALUES (1, 5)", {}));
}

TEST(SqliteProviderOpenTest, TheFileIsSwitchedToWalMode) {
  TempDatabase db;
  {
    sqlite3* raw = nullptr;
    sqlite3_open(db.path().c_str(), &raw);
    sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
  }
  auto conn = Connect(db.connectionString());
  EXPECT_EQ(conn->Execute("PRAGMA journal_mode", {}).rows.at(0).at(0), Variant("wal"));
}

TEST(SqliteProviderOpenTest, CreateDatabaseMakesAFileTheProviderOpensAndKeepsAnExistingOne) {
  TempDatabase db;
  const std::string path = (db.dir() / "made.db").string();
  sqlite::CreateDatabase(path);
  Connect("Provider=SQLite;Data Source=" + path)->Execute("CREATE TABLE t (a)", {});
  sqlite::CreateDatabase(path);
  EXPECT_NO_THROW(Connect("Provider=SQLite;Data Source=" + path)->Execute("SELECT a FROM t", {}));
  const automation::Error e = ErrorOf([&] { sqlite::CreateDatabase((db.dir() / "no-such-dir" / "x.db").string()); });
  EXPECT_EQ(SqliteResultCode(e.Number()), SQLITE_CANTOPEN);
}

// Holds the write lock of a database through a connection of its own.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  }
  ~WriteLock() { sqlite3_close(db_); }  // closing rolls the transaction back
  void Release() { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }

 private:
  sqlite3* db_ = nullptr;
};

TEST(SqliteProviderLockTest, ALockHeldPastTheBusyTimeoutGivesAClearError) {
  TempDatabase db("CREATE TABLE k (id INTEGER PRIMARY KEY);", "Busy Timeout=20");
  auto conn = Connect(db.connectionString());
  WriteLock lock(db.path());

  const automation::Error e = ErrorOf([&] { conn->Execute("INSERT INTO k VALUES (1)", {}); });
  EXPECT_EQ(SqliteResultCode(e.Number()) & 0xFF, SQLITE_BUSY);
  EXPECT_NE(e.Description().find("database is locked"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("busy timeout of 20 ms"), std::string::npos) << e.Description();
  EXPECT_NE(e.Description().find("[statement: INSERT INTO k VALUES (1)]"), std::string::npos) << e.Description();

  const automation::Error begin = ErrorOf([&] { conn->Begin(); });
  EXPECT_EQ(SqliteResultCode(begin.Number()) & 0xFF, SQLITE_BUSY);

  // Readers are not blocked by the writer (WAL), and the connection works once the lock is gone.
  EXPECT_NO_THROW(conn->Execute("SELECT * FROM k", {}));
  lock.Release();
  EXPECT_TRUE(conn->IsUsable());
  EXPECT_EQ(conn->Execute("INSERT INTO k VALUES (1)", {}).rowsAffected, 1);
}

TEST(SqliteProviderTransactionTest, BeginCommitAndRollback) {
  TempDatabase db("CREATE TABLE k (id INTEGER PRIMARY KEY);");
  auto conn = Connect(db.connectionString());
  auto other = Connect(db.connectionString());
  auto count = [&] { return other->Execute("SELECT count(*) FROM k", {}).rows.at(0).at(0); };

  conn->Begin();
  conn->Execute("INSERT INTO k VALUES (1)", {});
  EXPECT_EQ(count(), Variant(std::int32_t{0})) << "not visible before the commit";
  conn->Rollback();
  EXPECT_EQ(count(), Variant(std::int32_t{0}));

  conn->Begin();
  conn->Execute("INSERT INTO k VALUES (2)", {});
  EXPECT_TRUE(conn->IsUsable());
  conn->Commit();
  EXPECT_EQ(count(), Variant(std::int32_t{1}));

  EXPECT_NO_THROW(conn->Rollback()) << "nothing to roll back";
  const automation::Error e = ErrorOf([&] { conn->Commit(); });
  EXPECT_NE(e.Description().find("no transaction is active"), std::string::npos) << e.Description();
}

TEST(SqliteProviderTransactionTest, ATransactionBegunByTextMakesTheConnectionUnfitForReuse) {
  TempDatabase db("CREATE TABLE k (id INTEGER PRIMARY KEY);");
  auto conn = Connect(db.connectionString());
  conn->Execute("BEGIN", {});
  EXPECT_FALSE(conn->IsUsable());
  conn->Execute("COMMIT", {});
  EXPECT_TRUE(conn->IsUsable());
}

TEST(SqliteProviderPropertiesTest, ReportsTheProviderProperties) {
  TempDatabase db;
  auto conn = Connect(db.connectionString());
  const auto properties = conn->Properties();
  std::vector<std::string> names;
  for (const auto& [name, value] : properties) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"DBMS Name", "DBMS Version", "Multiple Results", "Like Escape Clause",
                                             "Integrity Enhancement Facility", "Numeric Functions",
                                             "String Functions", "System Functions", "Time/Date Functions"}));
  auto value = [&](const std::string& name) {
    for (const auto& [n, v] : properties)
      if (n == name) return v;
    return Variant();
  };
  EXPECT_EQ(value("DBMS Name"), Variant("SQLite"));
  EXPECT_EQ(value("DBMS Version"), Variant(sqlite3_libversion()));
  EXPECT_EQ(value("Multiple Results"), Variant(std::int32_t{0}));
  EXPECT_EQ(value("Like Escape Clause"), Variant("Y"));
  EXPECT_EQ(value("Integrity Enhancement Facility"), Variant(true));

  struct Mask {
    const char* name;
    std::int32_t has;      // bits SQLite always has
    std::int32_t hasNot;   // bits SQLite lacks
  };
  const Mask masks[] = {
      {"Numeric Functions", 0x1 | 0x400000, 0x80 | 0x20000 | 0x800000},  // ABS ROUND / COT RAND TRUNCATE
      {"String Functions", 0x10 | 0x40 | 0x800 | 0x1000, 0x2 | 0x4 | 0x20},  // LENGTH LCASE SUBSTRING UCASE / INSERT LEFT LOCATE
      {"System Functions", 0x4, 0x1 | 0x2},                                   // IFNULL / USERNAME DBNAME
      {"Time/Date Functions", 0x20000 | 0x40000 | 0x80000, 0x1 | 0x8000},     // CURRENT_* / NOW DAYNAME
  };
  for (const Mask& m : masks) {
    SCOPED_TRACE(m.name);
    const Variant v = value(m.name);
    ASSERT_EQ(v.vt(), automation::VT_I4);
    EXPECT_EQ(v.i4() & m.has, m.has);
    EXPECT_EQ(v.i4() & m.hasNot, 0);
  }
}

}  // namespace
}  // namespace morvane::db
