// RuntimeTransaction: the runtime's implementation of Transaction, and the ambient transaction
// through which the data-access objects enlist their physical connections (one database
// transaction per connection string). Internal to the runtime.
//
// Thread rules: every member locks mutex_, so a caller-held transaction that is used from
// successive threads (one at a time) is safe. A database commit or rollback runs under the lock.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/ambient_transaction.h"
#include "platform/db/connection_string.h"
#include "platform/mts/runtime.h"

namespace morvane::mts {

// The error number of a connection that asks to enlist in a transaction that has already ended
// (XACT_E_NOTRANSACTION).

class RuntimeTransaction final : public Transaction, public db::AmbientTransaction {
 public:
  explicit RuntimeTransaction(WriteLock writeLock = WriteLock::AtEnlistment) : writeLock_(writeLock) {}
  // Rolls back whatever is still enlisted when the transaction never ended; never throws.
  ~RuntimeTransaction() override;

  // Commits every enlisted connection in enlistment order and releases them to the pool. When
  // one commit fails, the connections not yet committed are rolled back and the error is raised
  // again; connections committed before it stay committed (there is no two-phase commit across
  // connection strings). A doomed transaction is rolled back and raises kTransactionAborted; so
  // does a transaction that was already rolled back. No effect once committed.
  void Commit() override;
  // Rolls back every enlisted connection and releases them. Raises the first rollback failure
  // after every connection has been released. No effect once ended.
  void Abort() override;
  bool IsDoomed() const override;
  bool IsEnded() const override;
  void Doom() override;

  // The connection of this transaction for the connection string: the first request acquires one
  // from db::ConnectionPool::Instance() and begins a database transaction on it (Begin, or
  // BeginDeferred for WriteLock::AtFirstWrite); a later request with another spelling of the same
  // string (db::NormaliseConnectionString: letter case of keys, blanks, order of entries) gets
  // the same connection, since a second one to the same database would wait for the first one's
  // locks. Raises kTransactionEnded once the transaction has ended, and the pool's or the
  // provider's error when acquiring or beginning fails (nothing is enlisted then).
  std::shared_ptr<db::PhysicalConnection> Enlist(std::string_view connectionString) override;

 private:
  enum class State { Active, Committed, RolledBack };
  struct Enlisted {
    std::string connectionString;  // as the first request wrote it
    // Its entries as they compare; nullopt for a text that does not normalise, which matches
    // only the same text.
    std::optional<db::NormalisedConnectionString> normalised;
    std::shared_ptr<db::PhysicalConnection> connection;
  };

  // Rolls back every enlisted connection and forgets them; returns the first failure (or null).
  // REQUIRES: mutex_ held.
  std::exception_ptr RollBackAllLocked() noexcept;

  const WriteLock writeLock_;
  mutable std::mutex mutex_;
  State state_ = State::Active;    // guarded by mutex_
  bool doomed_ = false;            // guarded by mutex_
  std::vector<Enlisted> enlisted_;  // guarded by mutex_
};

}  // namespace morvane::mts
