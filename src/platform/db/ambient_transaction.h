// The hook through which connections opened during a runtime transaction enlist in it. The
// transaction runtime (mts) implements AmbientTransaction and makes it current on the calling
// thread for the duration of each call; the data-access objects ask for it when they open.
#pragma once

#include <memory>
#include <string_view>

#include "platform/db/provider.h"

namespace morvane::db {

class AmbientTransaction {
 public:
  virtual ~AmbientTransaction() = default;
  // The physical connection that this transaction uses for the connection string: the first
  // request opens one (from the pool) and begins a database transaction on it; later requests
  // with the same string get the same connection. Raises automation::Error.
  virtual std::shared_ptr<PhysicalConnection> Enlist(std::string_view connectionString) = 0;
};

// The transaction of the current thread's call, or nullptr (connections then autocommit).
AmbientTransaction* CurrentAmbientTransaction();
// Sets it for the current thread; returns the previous one (restore it when the call ends).
AmbientTransaction* SetCurrentAmbientTransaction(AmbientTransaction* transaction);

}  // namespace morvane::db
