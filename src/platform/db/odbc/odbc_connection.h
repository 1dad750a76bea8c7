// OdbcConnection: one connection through the ODBC driver manager (unixODBC), the ODBC
// provider's PhysicalConnection. It runs one statement per text with positional "?" parameters,
// reads every row of a result, and keeps the statements it has prepared (by text) for the next
// use.
//
// The isolation statement "SET TRANSACTION ISOLATION LEVEL READ COMMITTED" (and READ UNCOMMITTED,
// REPEATABLE READ, SERIALIZABLE, in any letter case) is not sent to the database: outside a
// transaction begun by Begin it sets the connection's SQL_ATTR_TXN_ISOLATION, taking the next
// stronger level the driver offers when it lacks the one asked for; inside one it has no effect
// (PostgreSQL refuses to change the level once a transaction has run a statement, and the level
// of a transaction is fixed when it starts on every product). Since the data source sends it
// first on every connection it opens, it is also where a pooled connection whose session the
// server ended while it was idle is found out: outside a transaction the statement costs one
// round trip ("SELECT 1"), and a lost session is replaced by a new one before any statement of
// the caller runs. Begin does the same before the transaction starts.
//
// Column names: a driver reports a column by the name the database gives it, and PostgreSQL
// folds unquoted names to lower case ("FTypeID" comes back as "ftypeid"). Each result column's
// name is therefore taken back to its spelling in the statement text (ColumnNameAsWritten), so
// that results are keyed the same way on every product.
//
// Begin switches autocommit off; Commit and Rollback end the transaction with SQLEndTran and
// switch it on again. Rollback without a transaction has no effect. After a failure that loses
// the connection (SQLSTATE class 08, the server ending the session, or the driver reporting the
// connection dead) IsUsable is false, so the pool closes the connection instead of reusing it.
//
// Thread rules: used by one thread at a time. The process-wide ODBC environment is shared by
// every connection (OdbcEnvironment) and lives until the last of them has closed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/provider.h"

namespace morvane::db::odbc {

// The ODBC environment handle (ODBC 3 behaviour), one per process, freed when the last connection
// that holds it has closed. Thread-safe.
class OdbcEnvironment {
 public:
  // The process's environment, allocated on first use. Raises the driver manager's error.
  static std::shared_ptr<OdbcEnvironment> Shared();
  ~OdbcEnvironment();
  OdbcEnvironment(const OdbcEnvironment&) = delete;
  OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;

  void* handle() const { return handle_; }

 private:
  explicit OdbcEnvironment(void* handle) : handle_(handle) {}
  void* handle_;
};

class OdbcConnection final : public PhysicalConnection {
 public:
  // Connects with SQLDriverConnect on `connectText` (an ODBC connection string). `where` names
  // the driver and server for messages (never the password). Raises the driver's error.
  OdbcConnection(std::shared_ptr<OdbcEnvironment> environment, const std::string& connectText, std::string where);
  ~OdbcConnection() override;
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Runs one statement. Raises the driver's error (with the statement text), an error when the
  // number of parameters differs from the statement's markers, and the conversion's error when
  // a value does not convert to its parameter's type.
  ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override;

  void Begin() override;
  void Commit() override;
  void Rollback() override;

  // From SQLGetInfo: "DBMS Name" and "DBMS Version" (texts as the driver reports them),
  // "Multiple Results" (Long 1 for "Y", else 0), "Like Escape Clause" (the driver's "Y" or "N"),
  // "Integrity Enhancement Facility" (Bool) and the four function bit masks (Long). An item the
  // driver cannot give is left out.
  std::vector<std::pair<std::string, Variant>> Properties() override;

  bool IsUsable() const override { return !broken_; }

 private:
  class StatementCache;
  struct CachedStatement;

  // Raises the error of the handle's diagnostics, marking the connection unfit when they (or the
  // driver) say that it is lost.
  [[noreturn]] void Fail(short handleType, void* handle, std::string_view context);
  // Opens the session (SQLDriverConnect on connectText_); raises the driver's error.
  void Connect();
  // Ends the session and frees the handle, rolling back an open transaction. Never throws.
  void Disconnect() noexcept;
  // Makes sure the session is alive with one round trip ("SELECT 1"), and opens a new one in its
  // place when the server has ended it. Called outside a transaction only. Raises the error of
  // the new connection.
  void EnsureAlive();
  // The name (spelled as the statement text spells it) and data type code of a result column.
  ColumnInfo DescribeColumn(CachedStatement& entry, int column, std::string_view context);
  // Whether the driver knows the connection to be lost (SQL_ATTR_CONNECTION_DEAD).
  bool ConnectionDead() const;
  void SetAutocommit(bool on, std::string_view context);
  void SetIsolation(int level, std::string_view sql);
  std::optional<std::string> InfoText(unsigned short infoType);
  std::optional<std::uint32_t> InfoMask(unsigned short infoType);

  std::shared_ptr<OdbcEnvironment> environment_;
  std::string connectText_;
  void* dbc_ = nullptr;
  std::string where_;
  std::unique_ptr<StatementCache> cache_;
  bool connected_ = false;
  bool broken_ = false;
  bool transactionBegun_ = false;
  int isolation_ = 0;  // the SQL_TXN_* level set last; 0 while the driver's default holds
  std::optional<std::vector<std::pair<std::string, Variant>>> properties_;
};

// The spelling that the statement text gives a result column's name: among the identifiers of
// the text (outside string literals and comments) that equal `name` without regard to ASCII
// letter case, one that follows the keyword AS (an alias), else the first; `name` itself when
// the text holds none. ColumnNameAsWritten("SELECT a.fid AS FExpDeptID FROM t a", "fexpdeptid")
// is "FExpDeptID".
std::string ColumnNameAsWritten(std::string_view sql, std::string_view name);

}  // namespace morvane::db::odbc
