#include "platform/db/sqlite/sqlite_error.h"

#include <sqlite3.h>

#include <string>

#include "platform/automation/error.h"

namespace morvane::db::sqlite {

void RaiseSqliteMessage(int code, std::string_view message, std::string_view context) {
  std::string description(message);
  if (!context.empty()) {
    description += " [";
    description += context;
    description += ']';
  }
  automation::Raise(SqliteErrorNumber(code), std::string(kSqliteSource), std::move(description));
}

void RaiseSqlite(sqlite3* db, int code, std::string_view context) {
  // The connection's message belongs to its last call; when that call was not the failing one
  // (or there is no connection) SQLite's text of the code is the best there is.
  const char* message = db != nullptr && sqlite3_extended_errcode(db) == code ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  RaiseSqliteMessage(code, message, context);
}

}  // namespace morvane::db::sqlite
