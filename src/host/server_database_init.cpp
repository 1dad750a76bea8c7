// The server side of database_init.h: the component's tables created through the data-access
// layer in a database that an ODBC connection string reaches.
#include <memory>

#include "host/database_init.h"
#include "host/db_scripts.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "platform/db/connection.h"
#include "platform/db/connection_string.h"
#include "platform/db/recordset.h"

namespace morvane::host {

namespace {

using automation::EqualsIgnoreCase;

[[noreturn]] void Fail(const std::string& message) {
  throw DatabaseInitError(DatabaseInitError::Kind::Failed, message);
}

std::string Script(const std::string& name) {
  const auto& scripts = DatabaseScripts();
  auto it = scripts.find(name);
  if (it == scripts.end()) Fail("the program holds no database script " + name);
  return it->second;
}

bool TableExists(db::Connection& connection, const std::string& table) {
  try {
    connection.Execute("SELECT COUNT(*) FROM " + table + " WHERE 1 = 0");
    return true;
  } catch (const automation::Error&) {
    return false;
  }
}

// Drops whichever of the component's tables exist; errors are the caller's to report.
void DropTables(db::Connection& connection) {
  for (const std::string& table : ComponentTables())
    if (TableExists(connection, table)) connection.Execute("DROP TABLE " + table);
}

std::string PropertyText(db::Connection& connection, std::string_view name) {
  const db::Property* p = connection.GetProperties().Find(name);
  if (p == nullptr || p->Value.IsEmptyOrNull()) return {};
  return automation::ToText(p->Value);
}

}  // namespace

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

std::vector<std::string> SplitStatements(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  bool meaningful = false;  // the piece holds more than blanks and comments
  std::size_t i = 0;
  const std::size_t n = script.size();
  auto finish = [&] {
    if (meaningful) statements.push_back(current);
    current.clear();
    meaningful = false;
  };
  while (i < n) {
    const char c = script[i];
    if (script.substr(i, 2) == "--") {
      const std::size_t end = script.find('\n', i);
      i = end == std::string_view::npos ? n : end;
    } else if (script.substr(i, 2) == "/*") {
      const std::size_t end = script.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      if (meaningful) current += ' ';  // a comment separates what stands around it
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      while (j < n && !(script[j] == close && !(j + 1 < n && script[j + 1] == close))) j += script[j] == close ? 2 : 1;
      const std::size_t end = std::min(j + 1, n);
      current.append(script.substr(i, end - i));
      meaningful = true;
      i = end;
    } else if (c == ';') {
      finish();
      ++i;
    } else {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') meaningful = true;
      if (meaningful || (c != ' ' && c != '\t' && c != '\r' && c != '\n')) current += c;
      ++i;
    }
  }
  finish();
  for (std::string& s : statements)
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return statements;
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
  auto connection = db::Connection::New();
  try {
    connection->Open(options.connectString);
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
      DropTables(*connection);
    } catch (const automation::Error& e) {
      Fail("cannot drop the existing tables: " + e.Description());
    }
  }

  std::vector<std::string> scripts = {folder + "/schema.sql", folder + "/seed.sql"};
  if (options.demo) scripts.push_back(folder + "/demo.sql");
  db::PhysicalConnection& physical = connection->physical();
  std::string running;
  try {
    physical.Begin();
    for (const std::string& script : scripts) {
      running = script;
      for (const std::string& statement : SplitStatements(Script(script))) connection->Execute(statement);
    }
    running = "the commit";
    physical.Commit();
  } catch (const automation::Error& e) {
    try {
      physical.Rollback();
      DropTables(*connection);  // what a product without transactional DDL kept
    } catch (const automation::Error&) {
      // The script's error is the one to report.
    }
    Fail(running + " failed: " + e.Description());
  }
  return dsn;
}

}  // namespace morvane::host
