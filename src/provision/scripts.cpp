#include "provision/scripts.h"

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/text.h"
#include "platform/db/sql_text.h"
#include "platform/db/transaction_guard.h"
#include "provision/db_scripts.h"

namespace morvane::provision {

void Fail(const std::string& message) { throw DatabaseInitError(DatabaseInitError::Kind::Failed, message); }

DatabaseScript Script(std::string_view name) {
  const auto& scripts = DatabaseScripts();
  const auto it = scripts.find(std::string(name));
  if (it == scripts.end()) Fail("the program holds no database script " + std::string(name));
  return {it->first, it->second};
}

std::vector<DatabaseScript> ProductScripts(std::string_view folder, bool demo) {
  const std::string base(folder);
  std::vector<DatabaseScript> scripts = {Script(base + "/schema.sql"), Script(base + "/seed.sql")};
  if (demo) scripts.push_back(Script(base + "/demo.sql"));
  return scripts;
}

bool TableExists(db::PhysicalConnection& connection, const std::string& table) {
  try {
    connection.Execute("SELECT COUNT(*) FROM " + table + " WHERE 1 = 0", {});
    return true;
  } catch (const automation::Error&) {
    return false;
  }
}

void DropComponentTables(db::PhysicalConnection& connection) {
  for (const std::string& table : ComponentTables())
    if (TableExists(connection, table)) connection.Execute("DROP TABLE " + table, {});
}

void RunScripts(db::PhysicalConnection& connection, const std::vector<DatabaseScript>& scripts,
                bool dropTablesOnFailure) {
  std::string running = "starting the transaction";
  try {
    db::TransactionGuard transaction(connection);
    for (const DatabaseScript& script : scripts) {
      running = "the script " + std::string(script.name);
      for (const std::string& statement : db::SplitStatements(script.text)) connection.Execute(statement, {});
    }
    running = "the commit";
    transaction.Commit();
  } catch (const automation::Error& e) {
    if (dropTablesOnFailure) {
      try {
        DropComponentTables(connection);  // what a product without transactional DDL kept
      } catch (const automation::Error&) {
        // The script's error is the one to report.
      }
    }
    Fail(running + " failed: " + e.Description());
  }
}

std::string PropertyText(db::PhysicalConnection& connection, std::string_view name) {
  for (const auto& [key, value] : connection.Properties())
    if (automation::EqualsIgnoreCase(key, name)) return value.IsEmptyOrNull() ? std::string() : automation::ToText(value);
  return {};
}

}  // namespace morvane::provision
