// The one path by which provisioning writes a database: the product's scripts run through the
// data-access layer on one physical connection, in one transaction that rolls back unless every
// statement ran. Used by the SQLite file creation and the server creation alike; internal to
// provisioning. No state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/db/provider.h"
#include "provision/database_init.h"

namespace morvane::provision {

// Raises DatabaseInitError Failed with the message.
[[noreturn]] void Fail(const std::string& message);

// The compiled-in script of that name ("sqlite/schema.sql"); raises Failed when there is none.
DatabaseScript Script(std::string_view name);

// The scripts of a product folder of db/: schema.sql, seed.sql and, with `demo`, demo.sql.
std::vector<DatabaseScript> ProductScripts(std::string_view folder, bool demo);

// Whether the table exists (a query of it does not fail).
bool TableExists(db::PhysicalConnection& connection, const std::string& table);

// Drops whichever of ComponentTables() exist. Raises the provider's error.
void DropComponentTables(db::PhysicalConnection& connection);

// Runs the scripts in order, each split into its statements, in one transaction. On failure the
// transaction is rolled back and, with `dropTablesOnFailure` (for products that commit each
// CREATE TABLE at once), the component's tables are dropped again; raises Failed naming the
// script and holding the database's message.
void RunScripts(db::PhysicalConnection& connection, const std::vector<DatabaseScript>& scripts,
                bool dropTablesOnFailure);

// A provider property as text ("DBMS Name"); empty when the provider does not give it.
std::string PropertyText(db::PhysicalConnection& connection, std::string_view name);

}  // namespace morvane::provision
