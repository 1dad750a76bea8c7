// OdbcProvider: the provider for ODBC connection strings, those that name a driver or a data
// source ("Driver={PostgreSQL Unicode};Server=...;..." or "DSN=name;..."), through the unixODBC
// driver manager. The string is handed to SQLDriverConnect with its entries unchanged; only
// their quoting is rewritten into ODBC's (a value that holds ";", "{", "}" or outer blanks is
// braced, "}" doubled), so that a value quoted with "..." in the connection-string grammar
// (connection_string.h) reaches the driver as written. Examples:
//
//   Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=morvane;UID=u;PWD=p
//   Driver={MariaDB Unicode};Server=127.0.0.1;Port=3306;Database=morvane;UID=u;PWD=p;CHARSET=utf8mb4
//   Driver=FreeTDS;Server=sql.example;Port=1433;Database=morvane;UID=u;PWD=p;TDS_Version=7.4
//   Driver={SQLite3};Database=/var/lib/morvane/morvane.db
//
// Values are bound and read as odbc_values.h describes; errors are those of odbc_error.h.
// Thread rules: Connect may be called from any thread at once; each connection it returns is
// used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/db/connection_string.h"
#include "platform/db/provider.h"

namespace morvane::db::odbc {

class OdbcProvider final : public Provider {
 public:
  // The provider that ProviderFor hands out for ODBC strings.
  static OdbcProvider& Instance();

  // Opens a new connection on the string. Raises 3001 (data_error.h) for a malformed string or
  // one that names neither a driver nor a data source, and the driver manager's or driver's error
  // (a driver that is not installed: SQLSTATE IM002) naming the driver and server, never the
  // password.
  std::unique_ptr<PhysicalConnection> Connect(std::string_view connectionString) override;
};

// The text handed to SQLDriverConnect for a parsed string: "key=value;" per entry, in order,
// values braced where ODBC's grammar needs it (the driver's name always, as ODBC writes it).
std::string OdbcConnectText(const ConnectionString& cs);

// The driver (or data source), server, port and database that a string names, for messages:
// "Driver=FreeTDS, Server=sql.example, Port=1433, Database=morvane". Other entries (user names,
// passwords, options) are left out.
std::string OdbcTarget(const ConnectionString& cs);

}  // namespace morvane::db::odbc
