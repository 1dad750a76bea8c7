#include "platform/db/odbc/odbc_provider.h"

#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/data_error.h"
#include "platform/db/odbc/odbc_connection.h"

namespace morvane::db::odbc {

namespace {

bool NeedsBraces(std::string_view value) {
  return value.find_first_of(";{}") != std::string_view::npos ||
         (!value.empty() && (value.front() == ' ' || value.back() == ' '));
}

std::string Braced(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

}  // namespace

std::string OdbcConnectText(const ConnectionString& cs) {
  std::string text;
  for (const auto& [key, value] : cs.entries()) {
    text += key;
    text += '=';
    text += NeedsBraces(value) || automation::EqualsIgnoreCase(key, "Driver") ? Braced(value) : value;
    text += ';';
  }
  return text;
}

std::string OdbcTarget(const ConnectionString& cs) {
  std::string out;
  for (const char* key : {"Driver", "DSN", "Server", "Host", "Port", "Database"}) {
    const std::string* value = cs.Find(key);
    if (value == nullptr) continue;
    if (!out.empty()) out += ", ";
    out += key;
    out += '=';
    out += *value;
  }
  return out;
}

OdbcProvider& OdbcProvider::Instance() {
  static OdbcProvider provider;
  return provider;
}

std::unique_ptr<PhysicalConnection> OdbcProvider::Connect(std::string_view connectionString) {
  const ConnectionString cs = ConnectionString::Parse(connectionString);
  const std::string* driver = cs.Find("Driver");
  const std::string* dsn = cs.Find("DSN");
  if ((driver == nullptr || driver->empty()) && (dsn == nullptr || dsn->empty()))
    RaiseDataError(adErrInvalidArgument,
                   "ODBC connection string: 'Driver' or 'DSN' must name the driver or data source");
  return std::make_unique<OdbcConnection>(OdbcEnvironment::Shared(), OdbcConnectText(cs),
                                          "connection: " + OdbcTarget(cs));
}

}  // namespace morvane::db::odbc
