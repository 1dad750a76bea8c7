// The PostgreSQL figure: Append of many rows through the runtime on a PostgreSQL database reached
// through ODBC, against the same statements prepared and run directly through ODBC in one
// transaction. The database comes from MORVANE_TEST_PG (an ODBC connection string, as
// scripts/with-databases.sh exports it); without it the figure is skipped. Children:
//   odbc-append-{system,baseline} ROWS   (the connection string is read from the environment)
// Each child recreates the component's tables first (provision::InitServerDatabase), so every run
// starts from empty tables.
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <stdexcept>

#include "bench_children.h"
#include "bench_data.h"
#include "bench_figures.h"
#include "bench_process.h"
#include "provision/database_init.h"
#include "platform/automation/late_binding.h"
#include "platform/mts/runtime.h"
#include "service/module.h"

namespace morvane::bench {

namespace {

constexpr const char* kEnvironment = "MORVANE_TEST_PG";
constexpr int kWarmUpRows = 10;

std::string ConnectString() {
  const char* text = std::getenv(kEnvironment);
  if (text == nullptr || *text == '\0') throw std::runtime_error(std::string(kEnvironment) + " is not set");
  return text;
}

// UTF-8 to the driver manager's 16-bit wide characters.
std::basic_string<SQLWCHAR> Wide(std::string_view text) {
  std::basic_string<SQLWCHAR> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t c;
    std::size_t n;
    if (b < 0x80) {
      c = b, n = 1;
    } else if (b >> 5 == 0x6) {
      c = b & 0x1F, n = 2;
    } else if (b >> 4 == 0xE) {
      c = b & 0x0F, n = 3;
    } else {
      c = b & 0x07, n = 4;
    }
    for (std::size_t k = 1; k < n && i + k < text.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (c >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(c));
    }
  }
  return out;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  if (SQL_SUCCEEDED(rc)) return;
  SQLCHAR state[6] = {0};
  SQLCHAR message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  std::string text = what;
  if (SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length) == SQL_SUCCESS)
    text += ": [" + std::string(reinterpret_cast<char*>(state)) + "] " + reinterpret_cast<char*>(message);
  throw std::runtime_error(text);
}

// An ODBC environment and connection, freed by the destructor.
class OdbcSession {
 public:
  explicit OdbcSession(const std::string& connectString) {
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV, env_, "environment");
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    Check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_, "connection handle");
    std::basic_string<SQLWCHAR> text = Wide(connectString);
    Check(SQLDriverConnectW(dbc_, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_, "connect");
    connected_ = true;
  }
  ~OdbcSession() {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HANDLE) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HANDLE) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  SQLHDBC dbc() const { return dbc_; }

 private:
  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

// A prepared statement with its text parameters bound from buffers of its own.
class OdbcStatement {
 public:
  OdbcStatement(SQLHDBC dbc, std::string_view sql, std::size_t parameters) : texts_(parameters), lengths_(parameters) {
    Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_), SQL_HANDLE_DBC, dbc, "statement handle");
    std::basic_string<SQLWCHAR> text = Wide(sql);
    Check(SQLPrepareW(stmt_, text.data(), SQL_NTS), SQL_HANDLE_STMT, stmt_, "prepare");
  }
  ~OdbcStatement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;

  void Text(int i, std::string_view value) {
    auto& buffer = texts_[static_cast<std::size_t>(i - 1)];
    buffer = Wide(value);
    SQLLEN& length = lengths_[static_cast<std::size_t>(i - 1)];
    length = static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR));
    Check(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 255, 0,
                           buffer.data(), length, &length),
          SQL_HANDLE_STMT, stmt_, "bind");
  }
  void Int(int i, const SQLINTEGER& value) {
    lengths_[static_cast<std::size_t>(i - 1)] = 0;
    Check(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i), SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                           const_cast<SQLINTEGER*>(&value), 0, nullptr),
          SQL_HANDLE_STMT, stmt_, "bind");
  }
  void Execute(const char* what) { Check(SQLExecute(stmt_), SQL_HANDLE_STMT, stmt_, what); }
  // Whether the executed query gave a row; closes its cursor.
  bool HasRow() {
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, stmt_, "fetch");
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return rc != SQL_NO_DATA;
  }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HANDLE;
  std::vector<std::basic_string<SQLWCHAR>> texts_;
  std::vector<SQLLEN> lengths_;
};

// The hand-written Append through ODBC: the existence query and the INSERT prepared once, run for
// each row in one transaction.
void BaselineAppend(SQLHDBC dbc, const std::vector<SettingRow>& rows) {
  Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_HANDLE_DBC, dbc, "autocommit off");
  {
    OdbcStatement exists(dbc,
                         "SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID FROM CB_CostVchTempSet "
                         "WHERE FVchClass=? AND FTypeID=? AND FExpDeptID=? AND FExpenseID=?",
                         4);
    OdbcStatement insert(dbc,
                         "INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FTypeName,FExpDeptID,FExpDeptName,FExpenseID,"
                         "FExpenseName,FAcctID,FAcctName,FItemClassID,FItemClassName,FItemID,FItemName,FRemark,FGroupID,"
                         "FGroupName) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                         16);
    for (const SettingRow& r : rows) {
      exists.Text(1, r.FVchClass);
      exists.Text(2, r.FTypeID);
      exists.Text(3, r.FExpDeptID);
      exists.Text(4, r.FExpenseID);
      exists.Execute("existence query");
      if (exists.HasRow()) throw std::runtime_error("the row exists already");

      insert.Text(1, r.FVchClass);
      insert.Text(2, r.FTypeID);
      insert.Text(3, r.FTypeName);
      insert.Text(4, r.FExpDeptID);
      insert.Text(5, r.FExpDeptName);
      insert.Text(6, r.FExpenseID);
      insert.Text(7, r.FExpenseName);
      insert.Int(8, r.FAcctID);
      insert.Text(9, r.FAcctName);
      insert.Int(10, r.FItemClassID);
      insert.Text(11, r.FItemClassName);
      insert.Int(12, r.FItemID);
      insert.Text(13, r.FItemName);
      insert.Text(14, r.FRemark);
      insert.Int(15, r.FGroupID);
      insert.Text(16, r.FGroupName);
      insert.Execute("INSERT");
    }
  }
  Check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc, "commit");
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

std::int64_t StoredRows(SQLHDBC dbc) {
  SQLHSTMT stmt = SQL_NULL_HANDLE;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "statement handle");
  SQLBIGINT count = -1;
  SQLLEN indicator = 0;
  std::basic_string<SQLWCHAR> text = Wide("SELECT COUNT(*) FROM CB_CostVchTempSet");
  const bool ok = SQL_SUCCEEDED(SQLExecDirectW(stmt, text.data(), SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt)) &&
                  SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SBIGINT, &count, 0, &indicator));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  if (!ok) throw std::runtime_error("cannot count the stored rows");
  return count;
}

std::string FreshTables() {
  return provision::InitServerDatabase({.connectString = ConnectString(), .demo = false, .force = true});
}

void OdbcAppendSystem(const ChildArgs& a) {
  const int count = std::stoi(a.at(0));
  const std::string dsn = FreshTables();
  DllRegisterServer();
  automation::DispatchPtr update = mts::CreateObject("Morvane.VchTempSetUpdate");
  automation::Call(*update, "Append", dsn, automation::DispatchPtr(ToRecordList(MakeSettingRows("W", kWarmUpRows))), true);
  const automation::DispatchPtr list = ToRecordList(MakeSettingRows("B", count));

  const SectionTimer timer;
  automation::Call(*update, "Append", dsn, list, true);
  timer.Stop();
  OdbcSession check(ConnectString());
  Report("stored", static_cast<double>(StoredRows(check.dbc())));
}

void OdbcAppendBaseline(const ChildArgs& a) {
  const int count = std::stoi(a.at(0));
  FreshTables();
  OdbcSession session(ConnectString());
  BaselineAppend(session.dbc(), MakeSettingRows("W", kWarmUpRows));
  const std::vector<SettingRow> rows = MakeSettingRows("B", count);

  const SectionTimer timer;
  BaselineAppend(session.dbc(), rows);
  timer.Stop();
  Report("stored", static_cast<double>(StoredRows(session.dbc())));
}

}  // namespace

void AddOdbcChildren(std::map<std::string, ChildMain>& children) {
  children["odbc-append-system"] = OdbcAppendSystem;
  children["odbc-append-baseline"] = OdbcAppendBaseline;
}

std::vector<FigureRow> OdbcFigures(const Context& ctx) {
  const int rows = ctx.quick ? 50 : 1000;
  FigureRow row;
  row.what = "`Append` of " + FormatNumber(rows, 0) + " rows on PostgreSQL through ODBC";
  row.target = "≤ 1.5×";
  const char* pg = std::getenv(kEnvironment);
  if (pg == nullptr || *pg == '\0') {
    row.system = row.baseline = "skipped";
    row.note = std::string("PostgreSQL: skipped, ") + kEnvironment +
               " is not set (run under scripts/with-databases.sh, which starts a server and sets it).";
    return {row};
  }
  const Sides s = MeasureSides(ctx.runs, {"odbc-append-system", std::to_string(rows)},
                               {"odbc-append-baseline", std::to_string(rows)});
  for (const auto* side : {&s.system, &s.baseline})
    for (const ChildResult& r : *side)
      if (r.Number("stored") != rows + kWarmUpRows)
        throw std::runtime_error("Append on PostgreSQL stored " + r.values.at("stored") + " rows, expected " +
                                 std::to_string(rows + kWarmUpRows));
  FigureRow measured = Compare(ctx, row.what, Median(s.system, "seconds"), Median(s.baseline, "seconds"), "s", 1.5, true);
  measured.note = CpuNote("PostgreSQL `Append`", s) + " (the database server's own time is not in either)";
  return {measured};
}

}  // namespace morvane::bench
