// The errors of the SQLite provider. Every failure that SQLite reports raises automation::Error:
//
//   Number       kSqliteErrorBase + SQLite's extended result code: "database is locked"
//                (SQLITE_BUSY, 5) is 0x80048005, a primary key violation
//                (SQLITE_CONSTRAINT_PRIMARYKEY, 1555) is 0x80048613. The number is a failure
//                result code, so it crosses the public boundary unchanged and cannot be taken for
//                one of the system's own small numbers (1, 2, 5, 13 ... would collide with
//                SQLite's primary codes). SqliteResultCode() gives the SQLite code back.
//   Source       kSqliteSource ("Morvane.SQLite").
//   Description  SQLite's message, then " [statement: <text>]", or " [database: <path>]" when
//                the database cannot be opened.
//
// Problems of the caller's arguments (a parameter type the provider cannot bind) are
// data-access errors (data_error.h); conversions of parameter values keep the conversion's own
// number (13, 6) and gain the parameter and statement as context. Stateless.
#pragma once

#include <cstdint>
#include <string_view>
#include "platform/automation/error_numbers.h"

struct sqlite3;

namespace morvane::db::sqlite {

using automation::errors::kSqliteErrorBase;

inline constexpr std::string_view kSqliteSource = "Morvane.SQLite";

// The error number of an SQLite extended result code.
constexpr std::int32_t SqliteErrorNumber(int extendedCode) { return kSqliteErrorBase + extendedCode; }

// The SQLite extended result code of an error number of this provider; -1 for other numbers.
constexpr int SqliteResultCode(std::int32_t number) {
  return number > kSqliteErrorBase && number <= kSqliteErrorBase + 0xFFFF ? number - kSqliteErrorBase : -1;
}

// Raises the error for `code` with the connection's current message (or SQLite's text of the
// code when db is null) followed by " [" + context + "]".
[[noreturn]] void RaiseSqlite(sqlite3* db, int code, std::string_view context);

// Raises the error for `code` with the given message followed by " [" + context + "]".
[[noreturn]] void RaiseSqliteMessage(int code, std::string_view message, std::string_view context);

}  // namespace morvane::db::sqlite
