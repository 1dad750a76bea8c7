// Command and Parameter: a text with positional "?" parameters run on a connection. The active
// connection is either a Connection object (shared) or a connection string, from which Execute
// opens a connection of its own. One Command is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/db/connection.h"

namespace morvane::db {

struct Parameter {
  std::string Name;
  int Type = 0;  // DataTypeEnum
  int Direction = adParamInput;
  std::int32_t Size = 0;
  Variant Value;
};

class Parameters {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  void Append(Parameter p) { items_.push_back(std::move(p)); }
  // Appends a parameter made in place from its parts.
  void Append(std::string name, int type, int direction, std::int32_t size, Variant value) {
    items_.push_back(Parameter{std::move(name), type, direction, size, std::move(value)});
  }
  // Deletes every parameter.
  void Clear() { items_.clear(); }
  // Deletes the parameter at a 0-based index; raises 3265 outside the range.
  void Delete(std::int32_t index);
  // The parameter at a 0-based index; raises 3265 outside the range.
  Parameter& Item(std::int32_t index);
  const std::vector<Parameter>& items() const { return items_; }

 private:
  std::vector<Parameter> items_;
};

// An active connection: nothing yet, a connection object, or a connection string.
using ActiveConnectionSource = std::variant<std::monostate, std::shared_ptr<Connection>, std::string>;

// The open connection an active connection source stands for: the Connection object itself, or
// a new one opened on the string (given back when the caller lets go of it). Raises 3709 when
// there is none or the object is closed, and Open's errors for a string.
std::shared_ptr<Connection> OpenActiveConnection(const ActiveConnectionSource& source);

class Command {
 public:
  static std::shared_ptr<Command> New() { return std::make_shared<Command>(); }

  ActiveConnectionSource ActiveConnection;
  std::string CommandText;
  int CommandType = adCmdUnspecified;
  std::int32_t CommandTimeout = 30;

  Parameters& GetParameters() { return parameters_; }
  static Parameter CreateParameter(std::string name, int type, int direction, std::int32_t size, Variant value);

  bool HasActiveConnection() const { return !std::holds_alternative<std::monostate>(ActiveConnection); }

  // Runs CommandText with the parameters on the active connection. *recordsAffected gets the rows
  // an INSERT, UPDATE or DELETE changed. Raises automation::Error (3709 without an active
  // connection; the database's error otherwise).
  std::shared_ptr<Recordset> Execute(std::int64_t* recordsAffected = nullptr, int options = adOptionUnspecified);

 private:
  Parameters parameters_;
};

}  // namespace morvane::db
