#include "platform/db/sqlite/sqlite_provider.h"

#include <sqlite3.h>

#include <charconv>
#include <climits>

#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/connection_string.h"
#include "platform/db/data_error.h"
#include "platform/db/sqlite/sqlite_connection.h"
#include "platform/db/sqlite/sqlite_error.h"

namespace morvane::db::sqlite {

namespace {

[[noreturn]] void RaiseOption(std::string_view problem) {
  RaiseDataError(adErrInvalidArgument, "SQLite connection string: " + std::string(problem));
}

int BusyTimeout(const std::string& text) {
  int ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec != std::errc() || end != text.data() + text.size() || ms < 0)
    RaiseOption("'Busy Timeout' must be a whole number of milliseconds from 0 to " + std::to_string(INT_MAX));
  return ms;
}

bool Switch(const std::string& text, std::string_view key) {
  using automation::EqualsIgnoreCase;
  for (const char* yes : {"True", "Yes", "On", "1"})
    if (EqualsIgnoreCase(text, yes)) return true;
  for (const char* no : {"False", "No", "Off", "0"})
    if (EqualsIgnoreCase(text, no)) return false;
  std::string message = "'";  // built step by step: GCC 12 warns (-Wrestrict) on "'" + std::string
  message += key;
  message += "' must be True or False";
  RaiseOption(message);
}

}  // namespace

SqliteProvider& SqliteProvider::Instance() {
  static SqliteProvider provider;
  return provider;
}

std::unique_ptr<PhysicalConnection> SqliteProvider::Connect(std::string_view connectionString) {
  const ConnectionString cs = ConnectionString::Parse(connectionString);
  SqliteOptions options;
  const std::string* path = cs.Find("Data Source");
  if (path == nullptr || path->empty()) RaiseOption("'Data Source' must name the database file");
  options.path = *path;
  if (const std::string* busy = cs.Find("Busy Timeout")) options.busyTimeoutMs = BusyTimeout(*busy);
  if (const std::string* keys = cs.Find("Foreign Keys")) options.foreignKeys = Switch(*keys, "Foreign Keys");
  return std::make_unique<SqliteConnection>(std::move(options));
}

void CreateDatabase(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
  if (rc != SQLITE_OK) RaiseSqlite(raw, rc, "database: " + path);
  const int code = sqlite3_exec(raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) RaiseSqlite(raw, code, "database: " + path + ", statement: PRAGMA journal_mode=WAL");
}

std::string LibraryVersion() { return sqlite3_libversion(); }

}  // namespace morvane::db::sqlite
