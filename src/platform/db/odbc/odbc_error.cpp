#include "platform/db/odbc/odbc_error.h"

#include <sql.h>
#include <sqlext.h>

#include "platform/automation/error.h"
#include "platform/db/odbc/odbc_values.h"

namespace morvane::db::odbc {

std::vector<Diagnostic> Diagnostics(short handleType, void* handle) {
  std::vector<Diagnostic> out;
  if (handle == nullptr) return out;
  for (SQLSMALLINT record = 1; record <= 20; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::u16string message(512, u'\0');
    SQLRETURN rc =
        SQLGetDiagRecW(handleType, handle, record, state, &native, reinterpret_cast<SQLWCHAR*>(message.data()),
                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<std::size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(handleType, handle, record, state, &native, reinterpret_cast<SQLWCHAR*>(message.data()),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size()));
    Diagnostic d;
    d.sqlState = FromWide(reinterpret_cast<const char16_t*>(state), 5);
    d.nativeError = native;
    d.message = FromWide(message);
    while (!d.message.empty() && (d.message.back() == '\n' || d.message.back() == ' ')) d.message.pop_back();
    out.push_back(std::move(d));
  }
  return out;
}

bool IsConnectionLoss(std::string_view sqlState) {
  return sqlState.substr(0, 2) == "08" || sqlState == "57P01" || sqlState == "57P02" || sqlState == "57P03" ||
         sqlState == "HYT01";
}

void RaiseOdbc(const std::vector<Diagnostic>& diagnostics, std::string_view context, std::string_view fallback) {
  std::string description;
  std::string state = "HY000";
  std::int32_t native = 0;
  if (diagnostics.empty()) {
    description = fallback;
  } else {
    // The first record that is not a warning (class 01) says what failed.
    const Diagnostic* primary = &diagnostics.front();
    for (const Diagnostic& d : diagnostics)
      if (d.sqlState.substr(0, 2) != "01") {
        primary = &d;
        break;
      }
    state = primary->sqlState;
    native = primary->nativeError;
    for (const Diagnostic& d : diagnostics) {
      if (!description.empty()) description += " / ";
      description += d.message;
    }
  }
  description += " [SQLSTATE " + state + ", native error " + std::to_string(native);
  if (!context.empty()) {
    description += "; ";
    description += context;
  }
  description += ']';
  automation::Raise(OdbcErrorNumber(native), std::string(kOdbcSource), std::move(description));
}

}  // namespace morvane::db::odbc
