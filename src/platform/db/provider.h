// The provider interface beneath the data-access objects: one physical database connection that
// runs statements with positional "?" parameters and reports the provider properties. Each
// provider (sqlite/, odbc/) implements it with the same file set. Tests wrap it (a forwarding
// PhysicalConnection) to record statements or inject faults.
//
// A physical connection is used by one thread at a time; the pool (pool.h) hands it out.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/variant.h"

namespace morvane::db {

using automation::Variant;

struct BoundParameter {
  std::string name;
  int type = 0;        // DataTypeEnum: the value is bound as this type
  int direction = 1;   // adParamInput
  std::int32_t size = 0;
  Variant value;
};

struct ColumnInfo {
  std::string name;  // as the statement's result names it
  int type = 0;      // DataTypeEnum
};

// What a statement gives back: its columns and every row (a client-side result, fully read), and
// the number of rows an INSERT, UPDATE or DELETE changed (-1 for other statements).
struct ResultSet {
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Variant>> rows;
  std::int64_t rowsAffected = -1;
};

// Provider errors raise automation::Error with the database's own code as Number (or a number
// of the provider's choosing when the database gives none), Source naming the provider and the
// database's message followed by the statement text in Description.
class PhysicalConnection {
 public:
  virtual ~PhysicalConnection() = default;

  // Runs one statement with positional parameters. Raises automation::Error.
  virtual ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) = 0;

  // Database transactions, used by the transaction runtime's enlistment.
  virtual void Begin() = 0;
  // Begins a transaction that takes no lock until its first statement that writes, on a
  // database that lets one writer in at a time (SQLite): while it only reads, other connections
  // may write. Providers of databases that lock rows begin as Begin does.
  virtual void BeginDeferred() { Begin(); }
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // The provider properties ("DBMS Name", "DBMS Version", "Multiple Results", ...), in a fixed
  // order. Values that the provider cannot give are left out.
  virtual std::vector<std::pair<std::string, Variant>> Properties() = 0;

  // False once the connection has failed in a way that makes it unfit for reuse; the pool then
  // discards it rather than handing it out again.
  virtual bool IsUsable() const = 0;
};

class Provider {
 public:
  virtual ~Provider() = default;
  // Opens a new physical connection. Raises automation::Error (the database's own message).
  virtual std::unique_ptr<PhysicalConnection> Connect(std::string_view connectionString) = 0;
};

// The provider for a connection string: "Provider=SQLite;..." -> SQLite; "Driver=...;" or
// "DSN=...;" -> ODBC. Raises automation::Error naming the string's problem when none fits.
Provider& ProviderFor(std::string_view connectionString);

// Tests may replace the provider chosen for every connection string (nullptr restores the
// normal choice). Not for production use; not synchronised with connections being opened.
void SetProviderOverride(Provider* provider);

}  // namespace morvane::db
