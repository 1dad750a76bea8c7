// The transaction runtime: creates objects whose calls it intercepts, and lets a caller hold a
// transaction across several calls.
//
//   auto info = mts::CreateObject("Morvane.VchTempSetInfo");    // calls get an object context
//   {
//     mts::TransactionScope tx;               // calls made while it is current join it
//     automation::Call(*update, "Append", dsn, rows, true);
//     automation::Call(*update, "Append", dsn, more, true);
//     tx.Commit();                             // raises when a vote doomed it; then nothing stays
//   }                                           // not committed: rolled back
//
// Each intercepted call runs with a new object context. Following the class's transaction
// attribute it joins the current transaction (Supported, Required) or begins one (Required, when
// there is none); when the call that began a transaction returns, the transaction ends by the
// rule of object_context.h. An object made by ObjectContext::CreateInstance joins the transaction
// it was created in, wherever its later calls come from, until that transaction ends. A
// transaction that has ended counts as none: calls made while it is still bound begin their own
// (Required) or run without one (Supported). While a call runs, its transaction is the thread's
// db ambient transaction (connections it opens enlist); NotSupported calls run with none.
//
// Thread rules: a transaction is used by one thread at a time (its members are guarded by a mutex
// of its own, so successive threads may use it); the TransactionScope's thread is where it is
// current. Caller-held transactions that move between threads (the host) use Transaction directly
// with a TransactionBinding on each thread, under a lock of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/automation/dispatch.h"

namespace morvane::mts {

// The error number of a commit refused because an abort vote doomed the transaction
// (CONTEXT_E_ABORTED).

// Creates an object of a registered class whose calls run under the runtime. Raises
// automation::DispatchError UnknownClass (429) when the ProgID is not registered. A call on the
// object raises what the called code raised, unchanged; a call that began its transaction and
// returned normally also raises the commit's error, or kTransactionAborted when an abort vote of
// another object rolled the transaction back although the call itself did not vote to abort.
automation::DispatchPtr CreateObject(std::string_view progId);

// When a transaction's work takes the write lock of a database that lets one writer in at a time
// (SQLite; databases that lock rows, reached through ODBC, are not affected).
enum class WriteLock {
  // When a connection enlists: the transaction never fails later for want of the lock. For
  // transactions that run straight through (the runtime's own, TransactionScope).
  AtEnlistment,
  // At its first statement that writes: while it only reads it locks no writer out, but once
  // another connection has committed after it began reading, it can no longer write (the
  // database's "locked" error; nothing of that statement is written). For transactions held
  // across requests, which may wait long between calls.
  AtFirstWrite,
};

// A database-independent transaction of the runtime. Connections opened by calls made inside it
// enlist (one database transaction per connection string, however the string is spelt).
class Transaction {
 public:
  static std::shared_ptr<Transaction> Begin(WriteLock writeLock = WriteLock::AtEnlistment);
  virtual ~Transaction() = default;

  // Commits every enlisted connection; raises kTransactionAborted (and rolls back) when doomed.
  virtual void Commit() = 0;
  // Rolls back every enlisted connection. No effect once ended.
  virtual void Abort() = 0;
  virtual bool IsDoomed() const = 0;
  virtual bool IsEnded() const = 0;
  // Dooms the transaction (an abort vote).
  virtual void Doom() = 0;
};

// Makes `tx` the transaction of the calls the current thread makes until the guard ends.
class TransactionBinding {
 public:
  explicit TransactionBinding(std::shared_ptr<Transaction> tx);
  ~TransactionBinding();
  TransactionBinding(const TransactionBinding&) = delete;
  TransactionBinding& operator=(const TransactionBinding&) = delete;

 private:
  std::shared_ptr<Transaction> previous_;
};

// A caller-held transaction on the current thread, rolled back unless committed.
class TransactionScope {
 public:
  TransactionScope();
  ~TransactionScope();  // aborts when neither Commit nor Abort was called; never throws
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

  void Commit();  // raises kTransactionAborted when doomed (everything is rolled back)
  void Abort();
  bool IsDoomed() const { return tx_->IsDoomed(); }
  const std::shared_ptr<Transaction>& transaction() const { return tx_; }

 private:
  std::shared_ptr<Transaction> tx_;
  TransactionBinding binding_;
};

}  // namespace morvane::mts
