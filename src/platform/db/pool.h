// ConnectionPool: physical connections pooled per connection string, process-wide, beneath the
// Connection objects. Acquire hands out an idle connection or opens a new one; the returned
// reference puts the connection back when the last holder lets go. A transaction begun through
// that reference and still open then is rolled back first; a connection that is no longer usable
// (or whose rollback failed) is closed instead, and so is one beyond 32 idle per string.
// Thread-safe (guarded by an internal mutex); references may outlive the pool at process exit.
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

  // An open physical connection for the string (exactly as written: other spellings are other
  // pools). Raises the error of ProviderFor or of the provider's Connect.
  std::shared_ptr<PhysicalConnection> Acquire(std::string_view connectionString);

  // Physical connections opened since the process started, for tests and benchmarks.
  std::size_t PhysicalConnectionsOpened() const;
  // Physical connections idle in the pool now, over every connection string (the host's metrics).
  std::size_t IdleConnections() const;
  // Closes every idle connection (for tests that need a fresh database).
  void Clear();

 private:
  struct Impl;
  ConnectionPool();
  std::shared_ptr<Impl> impl_;
};

}  // namespace morvane::db
