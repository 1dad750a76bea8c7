// Creating the component's tables for every product from the scripts compiled into the program
// (db/<product>/schema.sql, seed.sql and, for a demonstration database, demo.sql), and the
// connection description (sDsn) that reaches the result. Every product's scripts run through the
// data-access layer on a connection of their own, in one transaction (provision/scripts.h).
//
// A SQLite database is built in a new file beside the target and moved into place only when every
// script has run in one transaction, so a failure leaves neither a half-written database nor a
// damaged old one. The functions hold no state; concurrent calls on different paths are safe.
//
//   std::string sDsn = InitDatabase({.path = "morvane.db", .demo = true});
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::provision {

// A database that could not be created. kind() tells a target that exists (and may not be
// replaced) from every other failure; what() is one line for the user.
class DatabaseInitError : public std::runtime_error {
 public:
  enum class Kind {
    AlreadyExists,   // the target exists and force was not given
    NotReplaceable,  // the target is never replaced, force or not: not a regular file, or held open
    Failed,          // anything else: a script failed, a file could not be written
  };
  DatabaseInitError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct DatabaseInitOptions {
  std::filesystem::path path = "morvane.db";  // relative paths are taken from the current directory
  bool demo = false;                          // also run the sample data
  bool force = false;                         // replace an existing regular file (and its -wal, -shm, -journal)
};

// Creates the database and returns its sDsn (see DsnFor). Raises DatabaseInitError: AlreadyExists
// when the file exists and force is false; NotReplaceable when it is not a regular file or is held
// open (CreateDatabaseFile); Failed when a script fails, the file cannot be written or its path
// cannot stand in a connection description (it holds ";", "{" or "}").
std::string InitDatabase(const DatabaseInitOptions& options);

// One script to run: its name (for messages) and its SQL text.
struct DatabaseScript {
  std::string_view name;
  std::string_view text;
};

// Creates the SQLite database `path` holding what `scripts` make, run in order in one
// transaction. Raises DatabaseInitError as InitDatabase. With force false an existing file is
// never replaced, even one that appears while the scripts run. Left-over -wal, -shm and -journal
// files of an earlier database at `path` are removed, so that SQLite cannot replay them into the
// new file.
//
// With force true only a regular file is replaced; for a symbolic link, the regular file it leads
// to (the link stays). Raises NotReplaceable, before anything is written or removed, for a
// directory, a FIFO, a device, a socket, a symbolic link to one of them or to nothing ("PATH is
// a directory; ..."), and for a database that a connection holds open ("database in use by
// another process: PATH"; how that is seen: platform/db/sqlite/sqlite_in_use.h). Both are checked
// again just before the new file takes the old one's place.
void CreateDatabaseFile(const std::filesystem::path& path, const std::vector<DatabaseScript>& scripts, bool force);

// The connection description of the database at `path` (made absolute):
// "ConnectString={Provider=SQLite;Data Source=<path>};UserName=admin;UserID=1;DBMS Name=SQLite;
// DBMS Version=<the SQLite library's version>;LANGUAGE=chs;AcctType=GY". Raises DatabaseInitError
// Failed for a path that such a text cannot carry (";", "{", "}", or a trailing blank).
std::string DsnFor(const std::filesystem::path& path);

// ---------------------------------------------------------------------------------------------
// A database on a server reached through ODBC (PostgreSQL, MariaDB, SQL Server, or SQLite
// through its ODBC driver): the same tables and data, from the scripts of the product that the
// driver reports (ScriptFolderFor), run through the data-access layer.
//
//   std::string sDsn = InitServerDatabase({.connectString = "Driver={PostgreSQL Unicode};Server=..."});

struct ServerInitOptions {
  std::string connectString;  // an ODBC connection string (Driver=... or DSN=...)
  bool demo = false;          // also run the sample data
  bool force = false;         // drop the component's tables first when they exist
};

// The component's tables, as every product's schema.sql creates them.
const std::vector<std::string>& ComponentTables();

// Creates the component's tables in the database and fills them, and returns the sDsn that
// reaches it (ServerDsnFor, with "DBMS Name" and "DBMS Version" as the driver reports them).
// Raises DatabaseInitError: AlreadyExists when one of ComponentTables() exists and force is
// false; Failed when the connection cannot be opened, the product has no scripts, or a script
// fails. The scripts run in one transaction; on a product that commits each CREATE TABLE at
// once (MariaDB), a failure drops the tables again, so none is left half-filled.
std::string InitServerDatabase(const ServerInitOptions& options);

// The folder of db/ whose scripts fit a product, by the DBMS name its driver reports (letter case
// ignored): "PostgreSQL" -> "postgresql", "MariaDB" and "MySQL" -> "mariadb", "Microsoft SQL
// Server" (and any name holding "SQL Server") -> "sqlserver", "SQLite" -> "sqlite". Raises
// DatabaseInitError Failed for any other product.
std::string ScriptFolderFor(std::string_view dbmsName);

// The connection description for a server database: "ConnectString={<string>};UserName=admin;
// UserID=1;DBMS Name=<name>;DBMS Version=<version>;LANGUAGE=chs;AcctType=GY". The description's
// braces cannot hold "}", so the connection string is written again without braces (a value
// holding ";" in double quotes, as the connection-string grammar allows). Raises
// DatabaseInitError Failed when a value holds "}" or the name or version holds ";".
std::string ServerDsnFor(std::string_view connectString, std::string_view dbmsName, std::string_view dbmsVersion);

}  // namespace morvane::provision
