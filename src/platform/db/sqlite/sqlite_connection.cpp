#include "platform/db/sqlite/sqlite_connection.h"

#include <sqlite3.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <list>
#include <set>
#include <system_error>
#include <unordered_map>

#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/sql_text.h"
#include "platform/db/sqlite/sqlite_error.h"
#include "platform/db/sqlite/sqlite_values.h"
#include "platform/db/sqlite/write_gate.h"

namespace morvane::db::sqlite {

namespace {

// How many prepared statements a connection keeps; the least recently used one goes first.
constexpr std::size_t kStatementCacheSize = 128;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Whether a statement's row count is what Execute reports: INSERT, UPDATE, DELETE (REPLACE too),
// also behind a WITH clause.
bool ChangesRows(sqlite3_stmt* stmt, std::string_view sql) {
  const std::string_view keyword = FirstKeyword(sql);
  for (const char* dml : {"INSERT", "UPDATE", "DELETE", "REPLACE"})
    if (automation::EqualsIgnoreCase(keyword, dml)) return true;
  return automation::EqualsIgnoreCase(keyword, "WITH") && !sqlite3_stmt_readonly(stmt);
}

// Primary result codes after which a connection is not handed out again.
bool LeavesConnectionUnfit(int code) {
  switch (code & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
    case SQLITE_MISUSE:
      return true;
    default:
      return false;
  }
}

// Resets a statement and clears its bindings when a run ends, however it ends.
class RunGuard {
 public:
  explicit RunGuard(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~RunGuard() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

}  // namespace

// The connection's prepared statements by text, least recently used first out.
class SqliteConnection::StatementCache {
 public:
  struct Entry {
    std::string sql;
    StatementPtr stmt;
    bool changesRows = false;
    // The result's columns with their declared types, as read when the statement had been
    // prepared `reprepares` times (SQLite prepares it again after a schema change; -1: not read).
    std::vector<ColumnInfo> columns;
    int reprepares = -1;
  };

  explicit StatementCache(SqliteConnection& owner) : owner_(owner) {}

  // The statement for the text, prepared now or earlier. Raises the SQLite error, or an error
  // when the text holds no statement or more than one.
  Entry& Get(std::string_view sql) {
    if (auto it = index_.find(sql); it != index_.end()) {
      entries_.splice(entries_.begin(), entries_, it->second);
      return *it->second;
    }
    Entry entry{std::string(sql), Prepare(sql), false, {}, -1};
    entry.changesRows = ChangesRows(entry.stmt.get(), sql);
    entries_.push_front(std::move(entry));
    index_.emplace(entries_.front().sql, entries_.begin());
    if (entries_.size() > kStatementCacheSize) {
      index_.erase(entries_.back().sql);
      entries_.pop_back();
    }
    return entries_.front();
  }

 private:
  StatementPtr Prepare(std::string_view sql) {
    sqlite3* db = owner_.db_.get();
    if (sql.size() > static_cast<std::size_t>(INT_MAX))
      RaiseSqliteMessage(SQLITE_TOOBIG, "the statement text is too long", "statement: " + std::string(sql.substr(0, 200)));
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, &tail);
    StatementPtr stmt(raw);
    if (rc != SQLITE_OK) owner_.Fail(rc, sql);
    if (!stmt)
      RaiseSqliteMessage(SQLITE_ERROR, "the text holds no statement", "statement: " + std::string(sql));

    // The provider runs one statement per text; a second one must not be dropped unnoticed.
    if (!IsOnlySeparators(sql.substr(static_cast<std::size_t>(tail - sql.data()))))
      RaiseSqliteMessage(SQLITE_ERROR, "the text holds more than one statement; run them one at a time",
                         "statement: " + std::string(sql));
    return stmt;
  }

  SqliteConnection& owner_;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;  // keys view Entry::sql
};

void SqliteConnection::Closer::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

SqliteConnection::SqliteConnection(SqliteOptions options) : options_(std::move(options)) {
  const std::string context = "database: " + options_.path;
  // The library reads names beginning with "file:" as URIs, whose options could make it create
  // the file; "./" keeps such a name a plain file name.
  std::string fileName = options_.path;
  if (fileName.size() >= 5 && automation::EqualsIgnoreCase(std::string_view(fileName).substr(0, 5), "file:"))
    fileName = "./" + fileName;

  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    std::string message = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    std::error_code ec;
    if (!std::filesystem::exists(options_.path, ec))
      message += ": the file does not exist (the SQLite provider opens existing databases only)";
    RaiseSqliteMessage(rc, message, context);
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, options_.busyTimeoutMs);
  cache_ = std::make_unique<StatementCache>(*this);
  gate_ = WriteGate::For(options_.path);

  for (const char* setup : {"PRAGMA journal_mode=WAL", options_.foreignKeys ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF"}) {
    const int code = sqlite3_exec(raw, setup, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) RaiseSqlite(raw, code, context + ", statement: " + setup);
  }
}

SqliteConnection::~SqliteConnection() {
  cache_.reset();
  db_.reset();
  if (inGate_) gate_->Leave();
}

void SqliteConnection::EnterGate(std::string_view sql) {
  if (!gate_->Enter(std::chrono::milliseconds(options_.busyTimeoutMs))) {
    RaiseSqliteMessage(SQLITE_BUSY,
                       "database is locked: the transactions of this process ahead of this one held the lock "
                       "longer than the busy timeout of " + std::to_string(options_.busyTimeoutMs) + " ms",
                       "statement: " + std::string(sql));
  }
  inGate_ = true;
}

void SqliteConnection::LeaveGateUnlessWriting() noexcept {
  if (inGate_ && sqlite3_txn_state(db_.get(), nullptr) != SQLITE_TXN_WRITE) {
    inGate_ = false;
    gate_->Leave();
  }
}

void SqliteConnection::Fail(int code, std::string_view sql) {
  if (LeavesConnectionUnfit(code)) broken_ = true;
  std::string context = "statement: ";
  context += sql;
  if (code == SQLITE_BUSY_SNAPSHOT) {
    RaiseSqliteMessage(code,
                       "database is locked: another connection committed a change after this transaction "
                       "began reading, so this transaction can no longer write; roll it back and run it again",
                       context);
  }
  if ((code & 0xFF) == SQLITE_BUSY && sqlite3_txn_state(db_.get(), nullptr) == SQLITE_TXN_READ) {
    RaiseSqliteMessage(code,
                       "database is locked: another connection holds the write lock, and a transaction that has "
                       "already read cannot wait for it; roll it back and run it again",
                       context);
  }
  if ((code & 0xFF) == SQLITE_BUSY) {
    RaiseSqliteMessage(code,
                       std::string(sqlite3_errmsg(db_.get())) + ": another connection held the lock longer than the busy "
                           "timeout of " + std::to_string(options_.busyTimeoutMs) + " ms",
                       context);
  }
  RaiseSqlite(db_.get(), code, context);
}

ResultSet SqliteConnection::Execute(std::string_view sql, std::span<const BoundParameter> params) {
  if (const std::optional<IsolationLevel> level = IsolationStatementLevel(sql)) {
    SetReadUncommitted(*level == IsolationLevel::ReadUncommitted);
    return {};
  }

  StatementCache::Entry& entry = cache_->Get(sql);
  sqlite3_stmt* stmt = entry.stmt.get();
  // A deferred transaction takes its place in the queue for the write lock at its first write.
  if (transactionBegun_ && !inGate_ && !sqlite3_stmt_readonly(stmt)) EnterGate(sql);
  // Declared before the statement's guard, so it runs after the reset that ends the statement.
  struct GateCheck {
    SqliteConnection& owner;
    ~GateCheck() { owner.LeaveGateUnlessWriting(); }
  } gateCheck{*this};
  RunGuard guard(stmt);
  BindParameters(stmt, params, sql);

  // The columns are read after the first step: a statement prepared before a schema change is
  // prepared again by that step, and "SELECT *" may then have other columns.
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc, sql);
  ResultSet result;
  const int columns = sqlite3_column_count(stmt);
  // The names and declared types are read once per preparation of the statement.
  const int reprepares = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (entry.reprepares != reprepares || entry.columns.size() != static_cast<std::size_t>(columns)) {
    entry.columns.assign(static_cast<std::size_t>(columns), ColumnInfo{});
    for (int c = 0; c < columns; ++c) {
      const char* name = sqlite3_column_name(stmt, c);
      const char* declared = sqlite3_column_decltype(stmt, c);
      entry.columns[c].name = name != nullptr ? name : "";
      entry.columns[c].type = ColumnTypeOfDeclared(declared != nullptr ? declared : "");
    }
    entry.reprepares = reprepares;
  }
  result.columns = entry.columns;

  for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
    std::vector<Variant>& row = result.rows.emplace_back();
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      row.push_back(ReadValue(stmt, c, result.columns[c].type));
      // A column whose declared type said nothing takes the type of its first non-Null value.
      if (result.columns[c].type == 0 && !row.back().IsNull())
        result.columns[c].type = ColumnTypeOfValue(row.back());
    }
  }
  if (rc != SQLITE_DONE) Fail(rc, sql);
  for (ColumnInfo& column : result.columns)
    if (column.type == 0) column.type = adVarWChar;

  result.rowsAffected = entry.changesRows ? sqlite3_changes64(db_.get()) : -1;
  return result;
}

void SqliteConnection::SetReadUncommitted(bool on) {
  // Writing a flag pragma expires every statement the connection has prepared (SQLite compiles
  // each again at its next step), and the isolation statement comes before every call's queries:
  // so the flag is read first, which expires nothing, and written only when it changes.
  constexpr std::string_view kRead = "PRAGMA read_uncommitted";
  sqlite3_stmt* stmt = cache_->Get(kRead).stmt.get();
  {
    RunGuard guard(stmt);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) Fail(rc == SQLITE_DONE ? SQLITE_ERROR : rc, kRead);
    if ((sqlite3_column_int(stmt, 0) != 0) == on) return;
  }
  Run(on ? "PRAGMA read_uncommitted=1" : "PRAGMA read_uncommitted=0");
}

void SqliteConnection::Run(std::string_view sql) {
  sqlite3_stmt* stmt = cache_->Get(sql).stmt.get();
  RunGuard guard(stmt);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Fail(rc, sql);
}

void SqliteConnection::Begin() {
  constexpr std::string_view kBegin = "BEGIN IMMEDIATE";
  if (!inGate_) EnterGate(kBegin);
  try {
    Run(kBegin);
  } catch (...) {
    LeaveGateUnlessWriting();
    throw;
  }
  transactionBegun_ = true;
}

void SqliteConnection::BeginDeferred() {
  Run("BEGIN DEFERRED");
  transactionBegun_ = true;
}

void SqliteConnection::Commit() {
  try {
    Run("COMMIT");
  } catch (...) {
    // A commit that failed may leave the transaction open (busy) or gone (rolled back by SQLite).
    if (sqlite3_get_autocommit(db_.get()) != 0) transactionBegun_ = false;
    LeaveGateUnlessWriting();
    throw;
  }
  transactionBegun_ = false;
  LeaveGateUnlessWriting();
}

void SqliteConnection::Rollback() {
  if (sqlite3_get_autocommit(db_.get()) == 0) {
    try {
      Run("ROLLBACK");
    } catch (...) {
      broken_ = true;  // a transaction that will not roll back must not reach another user
      LeaveGateUnlessWriting();
      throw;
    }
  }
  transactionBegun_ = false;
  LeaveGateUnlessWriting();
}

bool SqliteConnection::IsUsable() const {
  return !broken_ && (transactionBegun_ || sqlite3_get_autocommit(db_.get()) != 0);
}

std::optional<std::vector<std::pair<std::string, Variant>>> SqliteConnection::FunctionMasks() {
  std::set<std::string, std::less<>> names;
  try {
    for (const std::vector<Variant>& row : Execute("SELECT DISTINCT name FROM pragma_function_list", {}).rows)
      if (!row.empty() && row[0].IsText()) names.insert(row[0].text());
  } catch (const automation::Error&) {
    return std::nullopt;
  }

  struct Function {
    std::int32_t bit;
    const char* name;  // SQLite's function of that meaning
  };
  // ODBC's functions that SQLite has under a name of its own; those it lacks, or has with
  // other arguments (LOCATE, TRUNCATE, RAND ...), are absent.
  static constexpr Function kNumeric[] = {
      {0x1, "abs"},      {0x2, "acos"},        {0x4, "asin"},     {0x8, "atan"},      {0x10, "atan2"},
      {0x20, "ceiling"}, {0x40, "cos"},        {0x100, "exp"},    {0x200, "floor"},   {0x400, "ln"},
      {0x800, "mod"},    {0x1000, "sign"},     {0x2000, "sin"},   {0x4000, "sqrt"},   {0x8000, "tan"},
      {0x10000, "pi"},   {0x40000, "degrees"}, {0x80000, "log10"}, {0x100000, "power"}, {0x200000, "radians"},
      {0x400000, "round"}};
  static constexpr Function kString[] = {
      {0x1, "concat"},     {0x8, "ltrim"},    {0x10, "length"},       {0x40, "lower"},
      {0x100, "replace"},  {0x400, "rtrim"},  {0x800, "substr"},      {0x1000, "upper"},
      {0x2000, "unicode"}, {0x4000, "char"},  {0x20000, "soundex"},   {0x100000, "length"},
      {0x200000, "length"}, {0x400000, "octet_length"}};
  static constexpr Function kSystem[] = {{0x4, "ifnull"}};
  static constexpr Function kTimeDate[] = {
      {0x20000, "current_date"}, {0x40000, "current_time"}, {0x80000, "current_timestamp"}};

  auto mask = [&names](std::span<const Function> functions) {
    std::int32_t bits = 0;
    for (const Function& f : functions)
      if (names.contains(std::string_view(f.name))) bits |= f.bit;
    return Variant(bits);
  };
  return std::vector<std::pair<std::string, Variant>>{{"Numeric Functions", mask(kNumeric)},
                                                      {"String Functions", mask(kString)},
                                                      {"System Functions", mask(kSystem)},
                                                      {"Time/Date Functions", mask(kTimeDate)}};
}

std::vector<std::pair<std::string, Variant>> SqliteConnection::Properties() {
  std::vector<std::pair<std::string, Variant>> properties{
      {"DBMS Name", Variant("SQLite")},
      {"DBMS Version", Variant(sqlite3_libversion())},
      {"Multiple Results", Variant(std::int32_t{0})},
      {"Like Escape Clause", Variant("Y")},
      {"Integrity Enhancement Facility", Variant(true)},
  };
  if (!functionMasks_) functionMasks_ = FunctionMasks();  // tried again next time when it failed
  if (functionMasks_) properties.insert(properties.end(), functionMasks_->begin(), functionMasks_->end());
  return properties;
}

}  // namespace morvane::db::sqlite
