#include "platform/db/command.h"

#include <string>
#include <vector>

#include "platform/db/data_error.h"
#include "platform/db/recordset.h"

namespace morvane::db {

void Parameters::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) RaiseDataError(adErrItemNotFound, "parameter " + std::to_string(index));
  items_.erase(items_.begin() + index);
}

Parameter& Parameters::Item(std::int32_t index) {
  if (index < 0 || index >= Count()) RaiseDataError(adErrItemNotFound, "parameter " + std::to_string(index));
  return items_[static_cast<std::size_t>(index)];
}

Parameter Command::CreateParameter(std::string name, int type, int direction, std::int32_t size, Variant value) {
  return Parameter{std::move(name), type, direction, size, std::move(value)};
}

std::shared_ptr<Connection> OpenActiveConnection(const ActiveConnectionSource& source) {
  if (const auto* connection = std::get_if<std::shared_ptr<Connection>>(&source)) {
    if (!*connection || !(*connection)->IsOpen())
      RaiseDataError(adErrInvalidConnection, "the active connection is closed");
    return *connection;
  }
  if (const auto* text = std::get_if<std::string>(&source)) {
    auto connection = Connection::New();
    connection->Open(*text);
    return connection;
  }
  RaiseDataError(adErrInvalidConnection, "no active connection is set");
}

std::shared_ptr<Recordset> Command::Execute(std::int64_t* recordsAffected, int options) {
  const std::shared_ptr<Connection> connection = OpenActiveConnection(ActiveConnection);

  std::vector<BoundParameter> bound;
  bound.reserve(parameters_.items().size());
  for (const Parameter& p : parameters_.items()) bound.push_back(BoundParameter{p.Name, p.Type, p.Direction, p.Size, p.Value});

  ResultSet result = CommandType == adCmdTable ? connection->ExecuteWith("SELECT * FROM " + CommandText, bound)
                                                : connection->ExecuteWith(CommandText, bound);
  if (recordsAffected != nullptr) *recordsAffected = result.rowsAffected;
  return Recordset::FromResult(std::move(result));
}

}  // namespace morvane::db
