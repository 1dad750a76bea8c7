// Connection: an open session on a database, as the code's data-access layer names it. Opening
// takes a physical connection from the pool (or, inside a runtime transaction, the transaction's
// enlisted one); Close or destruction gives it back. Execute runs a text; the Properties
// collection reports the provider properties. One Connection is used by one thread at a time;
// it is shared by reference (Commands and Recordsets keep it alive).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/ado_constants.h"
#include "platform/db/provider.h"

namespace morvane::db {

class Recordset;

struct Property {
  std::string Name;
  Variant Value;
};

// The provider's properties; filled by Refresh (and on first use).
class Properties {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  // By name (letter case ignored); raises 3265 "Item cannot be found in the collection
  // corresponding to the requested name or ordinal." when absent.
  const Property& Item(std::string_view name) const;
  const Property& Item(std::int32_t index) const;
  // Nullptr when absent.
  const Property* Find(std::string_view name) const;

 private:
  friend class Connection;
  std::vector<Property> items_;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  static std::shared_ptr<Connection> New() { return std::make_shared<Connection>(); }
  ~Connection();

  // Opens on the connection string: inside a runtime transaction (CurrentAmbientTransaction())
  // with the transaction's enlisted connection, otherwise with one from the pool. userId and
  // password are not used (the providers read credentials from the string). Raises 3705 when
  // already open, 3706 when no provider fits the string, and the provider's error.
  void Open(std::string_view connectionString, std::string_view userId = {}, std::string_view password = {},
            int options = adOptionUnspecified);
  // Gives the physical connection back. No effect when closed.
  void Close();
  bool IsOpen() const { return physical_ != nullptr; }

  // Runs a text; returns its rows as an open Recordset. *recordsAffected gets the rows an
  // INSERT, UPDATE or DELETE changed. Raises automation::Error; raises 3704 when closed.
  std::shared_ptr<Recordset> Execute(std::string_view commandText, std::int64_t* recordsAffected = nullptr,
                                     int options = adOptionUnspecified);
  // Runs a text with bound parameters (the Command object's path). Raises as Execute does.
  ResultSet ExecuteWith(std::string_view commandText, std::span<const BoundParameter> params);

  int CursorLocation = adUseServer;
  std::int32_t CommandTimeout = 30;  // seconds; 0 means no limit

  const std::string& ConnectionString() const { return connectionString_; }
  // The provider's properties, read from it on first use after Open. Raises 3704 when closed.
  Properties& GetProperties();
  // Reads the properties from the provider again. Raises 3704 when closed.
  void RefreshProperties();

  // The physical connection. REQUIRES: IsOpen().
  PhysicalConnection& physical() const { return *physical_; }

 private:
  std::string connectionString_;
  std::shared_ptr<PhysicalConnection> physical_;
  Properties properties_;
  bool propertiesLoaded_ = false;
};

}  // namespace morvane::db
