// The errors of the ODBC provider. Every failure that the driver manager or a driver reports
// raises automation::Error:
//
//   Number       kOdbcErrorBase + the native error code of the first diagnostic record, when that
//                code is from 1 to 0xFFFF (MariaDB's 1062 "duplicate entry" is 0x80060426);
//                kOdbcErrorBase itself for any other code (psqlODBC's codes are the driver's own
//                and carry little; the SQLSTATE is the portable part). The numbers lie above the
//                SQLite provider's range (0x80048000 to 0x80057FFF) and are failure result codes,
//                so they cross the public boundary unchanged and cannot be taken for one of the
//                system's own small numbers. OdbcNativeError() gives the native code back.
//   Source       kOdbcSource ("Morvane.ODBC").
//   Description  the driver's message (every diagnostic record, joined by " / "), then
//                " [SQLSTATE xxxxx, native error n; <context>]", the context being the statement
//                text or, for a failed connection, the driver and server the string names (never
//                its password).
//
// A diagnostic whose SQLSTATE is of class 08 (connection exception), or a server's
// administrator-shutdown state, means the connection is gone (IsConnectionLoss). Stateless.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
#include "platform/automation/error_numbers.h"

namespace morvane::db::odbc {

using automation::errors::kOdbcErrorBase;

inline constexpr std::string_view kOdbcSource = "Morvane.ODBC";

// The error number of a diagnostic's native code.
constexpr std::int32_t OdbcErrorNumber(std::int32_t nativeError) {
  return nativeError >= 1 && nativeError <= 0xFFFF ? kOdbcErrorBase + nativeError : kOdbcErrorBase;
}

// The native code of an error number of this provider: 0 for kOdbcErrorBase (no usable native
// code), -1 for numbers that are not this provider's.
constexpr std::int32_t OdbcNativeError(std::int32_t number) {
  return number >= kOdbcErrorBase && number <= kOdbcErrorBase + 0xFFFF ? number - kOdbcErrorBase : -1;
}

// One diagnostic record of a handle.
struct Diagnostic {
  std::string sqlState;  // five characters
  std::int32_t nativeError = 0;
  std::string message;  // UTF-8
};

// Every diagnostic record of the handle (handleType SQL_HANDLE_ENV, _DBC or _STMT), in order.
// Empty when the handle holds none or is null.
std::vector<Diagnostic> Diagnostics(short handleType, void* handle);

// Whether the SQLSTATE says that the connection to the server is lost: class 08, or the server
// ended the session (57P01 to 57P03 of PostgreSQL, 08S01 of most drivers, HYT01 a timeout of the
// connection).
bool IsConnectionLoss(std::string_view sqlState);

// Raises the error of the diagnostics (or, when there are none, of `fallback` with SQLSTATE
// HY000) with the context appended as described above.
[[noreturn]] void RaiseOdbc(const std::vector<Diagnostic>& diagnostics, std::string_view context,
                            std::string_view fallback = "the ODBC call failed without a diagnostic");

}  // namespace morvane::db::odbc
