// TransactionGuard: a database transaction on one physical connection that rolls back unless it
// was committed. For work beneath the transaction runtime (creating a database's tables); calls
// of the component get their transactions from the runtime.
//
//   TransactionGuard transaction(connection);  // Begin
//   connection.Execute(...);
//   transaction.Commit();                      // otherwise the destructor rolls back
//
// Not copyable; used by the thread that uses the connection. The destructor never throws: a
// failing rollback leaves the database to end the transaction when the connection closes.
#pragma once

#include "platform/db/provider.h"

namespace morvane::db {

class TransactionGuard {
 public:
  // Begins a transaction. Raises the provider's error (nothing is begun then).
  explicit TransactionGuard(PhysicalConnection& connection) : connection_(connection) { connection_.Begin(); }
  ~TransactionGuard() {
    if (open_) {
      try {
        connection_.Rollback();
      } catch (...) {
        // The error that made the work stop is the one to report.
      }
    }
  }
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  // Commits. Raises the provider's error; the destructor then still rolls back what is left.
  void Commit() {
    connection_.Commit();
    open_ = false;
  }

 private:
  PhysicalConnection& connection_;
  bool open_ = true;
};

}  // namespace morvane::db
