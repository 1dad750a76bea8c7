#include "platform/db/connection.h"

#include <string>

#include "platform/automation/type_info.h"
#include "platform/db/ambient_transaction.h"
#include "platform/db/data_error.h"
#include "platform/db/pool.h"
#include "platform/db/recordset.h"

namespace morvane::db {

const Property* Properties::Find(std::string_view name) const {
  for (const Property& p : items_)
    if (automation::EqualsIgnoreCase(p.Name, name)) return &p;
  return nullptr;
}

const Property& Properties::Item(std::string_view name) const {
  if (const Property* p = Find(name)) return *p;
  RaiseDataError(adErrItemNotFound, "property '" + std::string(name) + "'");
}

const Property& Properties::Item(std::int32_t index) const {
  if (index < 0 || index >= Count()) RaiseDataError(adErrItemNotFound, "property " + std::to_string(index));
  return items_[static_cast<std::size_t>(index)];
}

Connection::~Connection() { Close(); }

void Connection::Open(std::string_view connectionString, std::string_view userId, std::string_view password,
                      int options) {
  if (IsOpen()) RaiseDataError(adErrObjectOpen, "the connection is already open");
  if (AmbientTransaction* transaction = CurrentAmbientTransaction())
    physical_ = transaction->Enlist(connectionString);
  else
    physical_ = ConnectionPool::Instance().Acquire(connectionString);
  connectionString_ = std::string(connectionString);
  properties_.items_.clear();
  propertiesLoaded_ = false;
}

void Connection::Close() {
  // Letting go of the reference gives the connection back to the pool (or leaves it with the
  // transaction that enlisted it); that never throws.
  physical_.reset();
}

std::shared_ptr<Recordset> Connection::Execute(std::string_view commandText, std::int64_t* recordsAffected,
                                               int options) {
  ResultSet result = ExecuteWith(commandText, {});
  if (recordsAffected != nullptr) *recordsAffected = result.rowsAffected;
  return Recordset::FromResult(std::move(result));
}

ResultSet Connection::ExecuteWith(std::string_view commandText, std::span<const BoundParameter> params) {
  if (!IsOpen()) RaiseDataError(adErrObjectClosed, "the connection is closed");
  return physical_->Execute(commandText, params);
}

Properties& Connection::GetProperties() {
  if (!IsOpen()) RaiseDataError(adErrObjectClosed, "the connection is closed");
  if (!propertiesLoaded_) RefreshProperties();
  return properties_;
}

void Connection::RefreshProperties() {
  if (!IsOpen()) RaiseDataError(adErrObjectClosed, "the connection is closed");
  std::vector<Property> items;
  for (auto& [name, value] : physical_->Properties()) items.push_back(Property{std::move(name), std::move(value)});
  properties_.items_ = std::move(items);
  propertiesLoaded_ = true;
}

}  // namespace morvane::db
