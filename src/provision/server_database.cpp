// The server side of database_init.h: the component's tables created through the data-access
// layer in a database that an ODBC connection string reaches.
#include <memory>

#include "platform/automation/error.h"
#include "platform/automation/text.h"
#include "platform/db/connection_string.h"
#include "platform/db/provider.h"
#include "provision/database_init.h"
#include "provision/scripts.h"

namespace morvane::provision {

using automation::EqualsIgnoreCase;

const std::vector<std::string>& ComponentTables() {
  static const std::vector<std::string> tables = {"CB_CostVchTempSet", "CB_BmExpDept", "CB_BmExpense",
                                                  "CB_BmErrCode",      "CB_BmErrItem", "t_DataTypeInfo",
                                                  "t_SupportedProc",   "t_AccessRight"};
  return tables;
}

std::string ScriptFolderFor(std::string_view dbmsName) {
  const std::string name(dbmsName);
  auto holds = [&name](std::string_view part) {
    if (part.size() > name.size()) return false;
    for (std::size_t i = 0; i + part.size() <= name.size(); ++i)
      if (EqualsIgnoreCase(std::string_view(name).substr(i, part.size()), part)) return true;
    return false;
  };
  if (EqualsIgnoreCase(name, "PostgreSQL")) return "postgresql";
  if (EqualsIgnoreCase(name, "MariaDB") || EqualsIgnoreCase(name, "MySQL")) return "mariadb";
  if (holds("SQL Server")) return "sqlserver";
  if (EqualsIgnoreCase(name, "SQLite")) return "sqlite";
  Fail("the database product '" + name +
       "' has no scripts in this program (it has them for PostgreSQL, MariaDB, SQL Server and SQLite)");
}

std::string ServerDsnFor(std::string_view connectString, std::string_view dbmsName, std::string_view dbmsVersion) {
  db::ConnectionString cs;
  try {
    cs = db::ConnectionString::Parse(connectString);
  } catch (const automation::Error& e) {
    Fail("the connection string cannot be read: " + e.Description());
  }
  std::string text;
  for (const auto& [key, value] : cs.entries()) {
    if (key.find('}') != std::string::npos || value.find('}') != std::string::npos)
      Fail("the entry '" + key + "' of the connection string holds \"}\", which a connection description cannot carry");
    text += key;
    text += '=';
    if (value.find_first_of(";\"'") != std::string::npos ||
        (!value.empty() && (value.front() == ' ' || value.back() == ' '))) {
      text += '"';
      for (char ch : value) {
        text += ch;
        if (ch == '"') text += '"';
      }
      text += '"';
    } else {
      text += value;
    }
    text += ';';
  }
  for (std::string_view part : {dbmsName, dbmsVersion})
    if (part.find_first_of(";{}") != std::string_view::npos)
      Fail("the product name or version '" + std::string(part) + "' cannot stand in a connection description");
  return "ConnectString={" + text + "};UserName=admin;UserID=1;DBMS Name=" + std::string(dbmsName) +
         ";DBMS Version=" + std::string(dbmsVersion) + ";LANGUAGE=chs;AcctType=GY";
}

std::string InitServerDatabase(const ServerInitOptions& options) {
  // A connection of its own, outside the pool: nothing of this work is handed to a later caller.
  std::unique_ptr<db::PhysicalConnection> connection;
  try {
    connection = db::ProviderFor(options.connectString).Connect(options.connectString);
  } catch (const automation::Error& e) {
    Fail("cannot connect: " + e.Description());
  }
  std::string name, version;
  try {
    name = PropertyText(*connection, "DBMS Name");
    version = PropertyText(*connection, "DBMS Version");
  } catch (const automation::Error& e) {
    Fail("cannot read the database product from the driver: " + e.Description());
  }
  const std::string folder = ScriptFolderFor(name);
  std::string dsn = ServerDsnFor(options.connectString, name, version);  // refuses an unusable string first

  if (!options.force) {
    for (const std::string& table : ComponentTables())
      if (TableExists(*connection, table))
        throw DatabaseInitError(
            DatabaseInitError::Kind::AlreadyExists,
            "the database already holds the table " + table + "; use --force to replace the component's tables");
  } else {
    try {
      DropComponentTables(*connection);
    } catch (const automation::Error& e) {
      Fail("cannot drop the existing tables: " + e.Description());
    }
  }
  RunScripts(*connection, ProductScripts(folder, options.demo), true);
  return dsn;
}

}  // namespace morvane::provision
