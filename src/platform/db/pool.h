// ConnectionPool: physical connections pooled per connection string, process-wide, beneath the
// Connection objects. Acquire hands out an idle connection or opens a new one; the returned
// reference puts the connection back when the last holder lets go (or discards it when it is no
// longer usable). Thread-safe (guarded by an internal mutex).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/db/provider.h"

namespace morvane::db {

class ConnectionPool {
 public:
  static ConnectionPool& Instance();

  // An open physical connection for the string. Raises automation::Error.
  std::shared_ptr<PhysicalConnection> Acquire(std::string_view connectionString);

  // Physical connections opened since the process started, for tests and benchmarks.
  std::size_t PhysicalConnectionsOpened() const;
  // Closes every idle connection (for tests that need a fresh database).
  void Clear();

 private:
  struct Impl;
  ConnectionPool();
  std::shared_ptr<Impl> impl_;
};

}  // namespace morvane::db
