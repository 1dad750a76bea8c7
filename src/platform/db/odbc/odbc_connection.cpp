#include "platform/db/odbc/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <list>
#include <mutex>
#include <unordered_map>

#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/odbc/odbc_error.h"
#include "platform/db/odbc/odbc_values.h"
#include "platform/db/sql_text.h"

namespace morvane::db::odbc {

namespace {

using automation::EqualsIgnoreCase;

// How many prepared statements a connection keeps; the least recently used one goes first.
constexpr std::size_t kStatementCacheSize = 64;

bool Failed(SQLRETURN rc) { return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO; }

SQLWCHAR* Wide(WideString& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// The SQL_TXN_* level of an isolation statement, or 0 for any other text.
int IsolationOf(std::string_view sql) {
  const std::optional<IsolationLevel> level = IsolationStatementLevel(sql);
  if (!level) return 0;
  switch (*level) {
    case IsolationLevel::ReadUncommitted:
      return SQL_TXN_READ_UNCOMMITTED;
    case IsolationLevel::ReadCommitted:
      return SQL_TXN_READ_COMMITTED;
    case IsolationLevel::RepeatableRead:
      return SQL_TXN_REPEATABLE_READ;
    case IsolationLevel::Serializable:
      return SQL_TXN_SERIALIZABLE;
  }
  return 0;
}

// Whether the statement's row count is what Execute reports: INSERT, UPDATE, DELETE, MERGE,
// REPLACE, also behind a WITH clause (for a statement without a result).
bool ChangesRows(std::string_view sql) {
  const std::string_view keyword = FirstKeyword(sql);
  for (const char* dml : {"INSERT", "UPDATE", "DELETE", "MERGE", "REPLACE", "WITH"})
    if (EqualsIgnoreCase(keyword, dml)) return true;
  return false;
}

// Whether a declared type name is that of a decimal type.
bool IsDecimalTypeName(std::string_view name) {
  const std::string_view first = FirstKeyword(name);
  return EqualsIgnoreCase(first, "DECIMAL") || EqualsIgnoreCase(first, "NUMERIC") || EqualsIgnoreCase(first, "MONEY");
}

struct StatementFree {
  void operator()(void* stmt) const noexcept { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
};
using StatementPtr = std::unique_ptr<void, StatementFree>;

// Closes the statement's cursor and forgets its parameters when a run ends, however it ends.
class RunGuard {
 public:
  explicit RunGuard(SQLHSTMT stmt) : stmt_(stmt) {}
  ~RunGuard() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  SQLHSTMT stmt_;
};

}  // namespace

std::string ColumnNameAsWritten(std::string_view sql, std::string_view name) {
  const std::vector<Token> tokens = Tokenize(sql);
  std::optional<std::string> first;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TokenKind::Word && tokens[i].kind != TokenKind::QuotedName) continue;
    std::string spelled = NameOf(tokens[i]);
    if (!EqualsIgnoreCase(spelled, name)) continue;
    if (i > 0 && tokens[i - 1].kind == TokenKind::Word && EqualsIgnoreCase(tokens[i - 1].text, "AS")) return spelled;
    if (!first) first = std::move(spelled);
  }
  return first ? *std::move(first) : std::string(name);
}

// ---------------------------------------------------------------------------------------------
// The environment

std::shared_ptr<OdbcEnvironment> OdbcEnvironment::Shared() {
  static std::mutex mutex;
  static std::weak_ptr<OdbcEnvironment> current;
  std::lock_guard lock(mutex);
  if (std::shared_ptr<OdbcEnvironment> env = current.lock()) return env;
  SQLHENV handle = SQL_NULL_HENV;
  if (Failed(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle)))
    RaiseOdbc({}, "allocating the ODBC environment", "the ODBC driver manager could not allocate an environment");
  std::shared_ptr<OdbcEnvironment> env(new OdbcEnvironment(handle));
  if (Failed(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
    RaiseOdbc(Diagnostics(SQL_HANDLE_ENV, handle), "setting ODBC 3 behaviour");
  current = env;
  return env;
}

OdbcEnvironment::~OdbcEnvironment() { SQLFreeHandle(SQL_HANDLE_ENV, handle_); }

// ---------------------------------------------------------------------------------------------
// The statement cache

// A prepared statement of the connection.
struct OdbcConnection::CachedStatement {
  std::string sql;
  StatementPtr stmt;
  bool changesRows = false;
  std::vector<std::pair<std::string, std::string>> names;  // driver's name -> spelling in sql
};

class OdbcConnection::StatementCache {
 public:
  using Entry = CachedStatement;

  explicit StatementCache(OdbcConnection& owner) : owner_(owner) {}

  // The statement for the text, prepared now or earlier. Raises the driver's error.
  Entry& Get(std::string_view sql) {
    if (auto it = index_.find(sql); it != index_.end()) {
      entries_.splice(entries_.begin(), entries_, it->second);
      return *it->second;
    }
    SQLHSTMT raw = SQL_NULL_HSTMT;
    if (Failed(SQLAllocHandle(SQL_HANDLE_STMT, owner_.dbc_, &raw)))
      owner_.Fail(SQL_HANDLE_DBC, owner_.dbc_, "statement: " + std::string(sql));
    StatementPtr stmt(raw);
    WideString text = ToWide(sql);
    // Null-terminated rather than counted: the SQLite driver misreads a counted text that holds
    // characters beyond ASCII.
    if (Failed(SQLPrepareW(raw, Wide(text), SQL_NTS)))
      owner_.Fail(SQL_HANDLE_STMT, raw, "statement: " + std::string(sql));
    entries_.push_front(Entry{std::string(sql), std::move(stmt), ChangesRows(sql), {}});
    index_.emplace(entries_.front().sql, entries_.begin());
    if (entries_.size() > kStatementCacheSize) {
      index_.erase(entries_.back().sql);
      entries_.pop_back();
    }
    return entries_.front();
  }

  // Forgets the statement of the text (after a failure that may have left it unfit).
  void Drop(std::string_view sql) {
    if (auto it = index_.find(sql); it != index_.end()) {
      std::list<Entry>::iterator entry = it->second;
      index_.erase(it);
      entries_.erase(entry);
    }
  }

  void Clear() {
    index_.clear();
    entries_.clear();
  }

 private:
  OdbcConnection& owner_;
  std::list<Entry> entries_;                                                // most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;  // keys view Entry::sql
};

// ---------------------------------------------------------------------------------------------
// The connection

OdbcConnection::OdbcConnection(std::shared_ptr<OdbcEnvironment> environment, const std::string& connectText,
                               std::string where)
    : environment_(std::move(environment)), connectText_(connectText), where_(std::move(where)) {
  ScopedUtf8Locale utf8;
  cache_ = std::make_unique<StatementCache>(*this);
  Connect();
}

void OdbcConnection::Connect() {
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (Failed(SQLAllocHandle(SQL_HANDLE_DBC, environment_->handle(), &dbc)))
    RaiseOdbc(Diagnostics(SQL_HANDLE_ENV, environment_->handle()), where_);
  WideString text = ToWide(connectText_);
  const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, Wide(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (Failed(rc)) {
    std::vector<Diagnostic> diagnostics = Diagnostics(SQL_HANDLE_DBC, dbc);
    // unixODBC reports a driver it cannot load with a warning only.
    if (std::none_of(diagnostics.begin(), diagnostics.end(),
                     [](const Diagnostic& d) { return d.sqlState.substr(0, 2) != "01"; }))
      diagnostics.push_back(Diagnostic{"IM002", 0,
                                       "the driver could not be loaded: is it installed, and registered "
                                       "under that name (odbcinst -q -d)?"});
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    RaiseOdbc(diagnostics, where_);
  }
  dbc_ = dbc;
  connected_ = true;
}

void OdbcConnection::Disconnect() noexcept {
  if (dbc_ == nullptr) return;
  cache_->Clear();  // statements end before their connection
  if (connected_) {
    // An open transaction is rolled back, not left to the driver's choice at disconnect.
    if (transactionBegun_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = nullptr;
  connected_ = false;
}

void OdbcConnection::EnsureAlive() {
  try {
    Execute("SELECT 1", {});
    return;
  } catch (const automation::Error&) {
    if (!broken_) return;  // a product without "SELECT 1" (it needs FROM DUAL): nothing to learn
  }
  // The session is gone (the server restarted or ended it while the connection was idle). No
  // transaction is open and no statement of the caller has run, so a new session replaces it.
  Disconnect();
  broken_ = false;
  isolation_ = 0;
  try {
    Connect();
  } catch (...) {
    broken_ = true;
    throw;
  }
}

OdbcConnection::~OdbcConnection() { Disconnect(); }

void OdbcConnection::Fail(short handleType, void* handle, std::string_view context) {
  std::vector<Diagnostic> diagnostics = Diagnostics(handleType, handle);
  bool lost = false;
  for (const Diagnostic& d : diagnostics) lost = lost || IsConnectionLoss(d.sqlState);
  if (lost || ConnectionDead()) broken_ = true;
  RaiseOdbc(diagnostics, context);
}

bool OdbcConnection::ConnectionDead() const {
  SQLUINTEGER dead = SQL_CD_FALSE;
  return dbc_ != nullptr && !Failed(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
         dead == SQL_CD_TRUE;
}

ColumnInfo OdbcConnection::DescribeColumn(CachedStatement& entry, int column, std::string_view context) {
  SQLHSTMT stmt = entry.stmt.get();
  const auto c = static_cast<SQLUSMALLINT>(column);
  char16_t name[256] = {};
  SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  if (Failed(SQLDescribeColW(stmt, c, reinterpret_cast<SQLWCHAR*>(name), 256, &nameLength, &sqlType, &size, &digits,
                             &nullable)))
    Fail(SQL_HANDLE_STMT, stmt, context);
  const std::string reported = FromWide(name, std::clamp<SQLSMALLINT>(nameLength, 0, 255));

  // The spelling in the text, worked out once per statement and reported name.
  auto known =
      std::find_if(entry.names.begin(), entry.names.end(), [&reported](const auto& n) { return n.first == reported; });
  if (known == entry.names.end())
    known = entry.names.insert(entry.names.end(), {reported, ColumnNameAsWritten(entry.sql, reported)});

  SQLLEN isUnsigned = SQL_FALSE;
  SQLColAttributeW(stmt, c, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
  int type = ColumnTypeOfSqlType(sqlType, isUnsigned == SQL_TRUE);
  if (type == adVarChar || type == adVarWChar || type == adChar || type == adWChar) {
    // A driver over a database without strict column types (SQLite's) reports a decimal column
    // as text; its declared type name still tells.
    char16_t typeName[64] = {};
    SQLSMALLINT typeNameBytes = 0;
    if (!Failed(SQLColAttributeW(stmt, c, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameBytes, nullptr)) &&
        IsDecimalTypeName(FromWide(typeName, std::clamp<SQLSMALLINT>(typeNameBytes / 2, 0, 63))))
      type = adNumeric;
  }
  return ColumnInfo{known->second, type};
}

ResultSet OdbcConnection::Execute(std::string_view sql, std::span<const BoundParameter> params) {
  ScopedUtf8Locale utf8;
  if (const int level = IsolationOf(sql); level != 0) {
    if (!transactionBegun_) {
      EnsureAlive();
      SetIsolation(level, sql);
    }
    return {};
  }

  StatementCache::Entry& entry = cache_->Get(sql);
  SQLHSTMT stmt = entry.stmt.get();
  const std::string context = "statement: " + std::string(sql);
  try {
    RunGuard guard(stmt);
    SQLSMALLINT markers = 0;
    if (!Failed(SQLNumParams(stmt, &markers)) && static_cast<std::size_t>(markers) != params.size())
      RaiseOdbc({Diagnostic{"07002", 0,
                            "the statement has " + std::to_string(markers) + " parameter markers but " +
                                std::to_string(params.size()) + " parameters were given"}},
                context);
    ParameterBinding binding;
    binding.Bind(stmt, params, sql);

    const SQLRETURN rc = SQLExecute(stmt);
    if (Failed(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, stmt, context);

    ResultSet result;
    SQLSMALLINT columns = 0;
    if (rc != SQL_NO_DATA && Failed(SQLNumResultCols(stmt, &columns))) Fail(SQL_HANDLE_STMT, stmt, context);
    for (SQLSMALLINT c = 1; c <= columns; ++c) result.columns.push_back(DescribeColumn(entry, c, context));

    if (columns > 0) {
      for (;;) {
        const SQLRETURN fetched = SQLFetch(stmt);
        if (fetched == SQL_NO_DATA) break;
        if (Failed(fetched)) Fail(SQL_HANDLE_STMT, stmt, context);
        std::vector<Variant>& row = result.rows.emplace_back();
        row.reserve(static_cast<std::size_t>(columns));
        for (SQLSMALLINT c = 1; c <= columns; ++c) {
          try {
            row.push_back(ReadValue(stmt, c, result.columns[static_cast<std::size_t>(c - 1)].type, sql));
          } catch (const automation::Error&) {
            if (ConnectionDead()) broken_ = true;
            throw;
          }
        }
      }
    } else if (entry.changesRows) {
      SQLLEN count = 0;
      result.rowsAffected = rc == SQL_NO_DATA ? 0 : (Failed(SQLRowCount(stmt, &count)) ? -1 : count);
    }
    return result;
  } catch (...) {
    cache_->Drop(sql);  // a statement that failed is prepared afresh next time
    throw;
  }
}

void OdbcConnection::SetAutocommit(bool on, std::string_view context) {
  const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (Failed(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER)))
    Fail(SQL_HANDLE_DBC, dbc_, context);
}

void OdbcConnection::SetIsolation(int level, std::string_view sql) {
  if (level == isolation_) return;
  // A driver that lacks the level asked for gets the next stronger one it has: a stronger level
  // keeps every guarantee of a weaker one.
  SQLUINTEGER offered = 0;
  if (!Failed(SQLGetInfo(dbc_, SQL_TXN_ISOLATION_OPTION, &offered, sizeof offered, nullptr)) && offered != 0) {
    SQLUINTEGER chosen = 0;
    for (SQLUINTEGER candidate = static_cast<SQLUINTEGER>(level); candidate <= SQL_TXN_SERIALIZABLE; candidate <<= 1)
      if ((offered & candidate) != 0) {
        chosen = candidate;
        break;
      }
    if (chosen == 0) {
      isolation_ = level;  // the database offers nothing as strong: its own level stands
      return;
    }
    if (Failed(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(SQLULEN{chosen}),
                                 SQL_IS_UINTEGER)))
      Fail(SQL_HANDLE_DBC, dbc_, "statement: " + std::string(sql));
  } else if (Failed(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(level)), SQL_IS_UINTEGER))) {
    Fail(SQL_HANDLE_DBC, dbc_, "statement: " + std::string(sql));
  }
  isolation_ = level;
}

void OdbcConnection::Begin() {
  ScopedUtf8Locale utf8;
  if (!transactionBegun_) EnsureAlive();  // nothing of the transaction has run yet
  SetAutocommit(false, "beginning a transaction");
  transactionBegun_ = true;
}

void OdbcConnection::Commit() {
  ScopedUtf8Locale utf8;
  // Some drivers report a commit on a lost connection as done; the server rolled it back.
  if (broken_)
    RaiseOdbc({Diagnostic{"08003", 0,
                          "the connection to the database was lost during the transaction, so the "
                          "server rolled it back; nothing of it was committed"}},
              "committing the transaction, " + where_);
  if (Failed(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) Fail(SQL_HANDLE_DBC, dbc_, "committing the transaction");
  transactionBegun_ = false;
  SetAutocommit(true, "ending the transaction");
}

void OdbcConnection::Rollback() {
  ScopedUtf8Locale utf8;
  if (!transactionBegun_) return;
  if (broken_) {
    // The connection is lost: the server has rolled the transaction back with the session.
    transactionBegun_ = false;
    return;
  }
  try {
    if (Failed(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK)))
      Fail(SQL_HANDLE_DBC, dbc_, "rolling back the transaction");
    transactionBegun_ = false;
    SetAutocommit(true, "ending the transaction");
  } catch (...) {
    broken_ = true;  // a transaction that will not roll back must not reach another user
    throw;
  }
}

std::optional<std::string> OdbcConnection::InfoText(unsigned short infoType) {
  char16_t buffer[512] = {};
  SQLSMALLINT length = 0;
  if (Failed(SQLGetInfoW(dbc_, infoType, buffer, sizeof buffer, &length))) return std::nullopt;
  const std::size_t chars = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / 2, 511);
  return FromWide(buffer, chars);
}

std::optional<std::uint32_t> OdbcConnection::InfoMask(unsigned short infoType) {
  SQLUINTEGER mask = 0;
  if (Failed(SQLGetInfoW(dbc_, infoType, &mask, sizeof mask, nullptr))) return std::nullopt;
  return mask;
}

std::vector<std::pair<std::string, Variant>> OdbcConnection::Properties() {
  if (properties_) return *properties_;
  ScopedUtf8Locale utf8;
  std::vector<std::pair<std::string, Variant>> properties;
  if (auto name = InfoText(SQL_DBMS_NAME)) properties.emplace_back("DBMS Name", Variant(*name));
  if (auto version = InfoText(SQL_DBMS_VER)) properties.emplace_back("DBMS Version", Variant(*version));
  if (auto multiple = InfoText(SQL_MULT_RESULT_SETS))
    properties.emplace_back("Multiple Results", Variant(std::int32_t{*multiple == "Y" ? 1 : 0}));
  if (auto like = InfoText(SQL_LIKE_ESCAPE_CLAUSE)) properties.emplace_back("Like Escape Clause", Variant(*like));
  if (auto ief = InfoText(SQL_INTEGRITY))
    properties.emplace_back("Integrity Enhancement Facility", Variant(*ief == "Y"));
  const std::pair<const char*, unsigned short> masks[] = {{"Numeric Functions", SQL_NUMERIC_FUNCTIONS},
                                                          {"String Functions", SQL_STRING_FUNCTIONS},
                                                          {"System Functions", SQL_SYSTEM_FUNCTIONS},
                                                          {"Time/Date Functions", SQL_TIMEDATE_FUNCTIONS}};
  for (const auto& [name, info] : masks)
    if (auto mask = InfoMask(info)) properties.emplace_back(name, Variant(static_cast<std::int32_t>(*mask)));
  properties_ = properties;
  return properties;
}

}  // namespace morvane::db::odbc
