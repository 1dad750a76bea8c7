// SqliteProvider: the provider for connection strings "Provider=SQLite;Data Source=PATH;...".
// Its keys (letter case ignored; grammar in connection_string.h):
//
//   Data Source   the database file; required. The file must exist: the provider opens it for
//                 reading and writing and never creates one (CreateDatabase does). The path is
//                 always a file name, never a "file:" URI, so no URI option can change that.
//   Busy Timeout  milliseconds a statement waits for a lock that another connection holds
//                 before it fails with "database is locked"; default 5000, 0 fails at once.
//   Foreign Keys  True or False (also Yes/No, On/Off, 1/0): whether foreign key constraints are
//                 enforced; default True.
//
// Every connection switches the file to WAL mode (readers do not wait for the writer). Values
// are bound and read as sqlite_values.h describes; errors are those of sqlite_error.h.
// Thread rules: Connect may be called from any thread at once; each connection it returns is
// used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/db/provider.h"

namespace morvane::db::sqlite {

class SqliteProvider final : public Provider {
 public:
  // The provider that ProviderFor hands out for SQLite strings.
  static SqliteProvider& Instance();

  // Opens a new connection on the string. Raises 3001 (data_error.h) for a missing "Data Source"
  // or a malformed option, and the SQLite error for a file that does not exist or is not a
  // database (Description names the path).
  std::unique_ptr<PhysicalConnection> Connect(std::string_view connectionString) override;
};

// Creates an empty database at path in WAL mode; an existing database there is left as it is.
// For tools and tests that make a database before the provider opens it. Raises the SQLite
// error (a folder that does not exist, a file that is not a database).
void CreateDatabase(const std::string& path);

// The version text of the SQLite library the provider runs on ("3.40.1"), as its connections
// report it in "DBMS Version".
std::string LibraryVersion();

}  // namespace morvane::db::sqlite
