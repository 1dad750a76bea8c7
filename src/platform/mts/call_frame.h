// The per-call machinery of the runtime: the object context of one intercepted call
// (CallContext), the thread's current context and current transaction, and CallFrame, which
// installs a call's context and transaction on the thread and settles the votes when the call
// ends. Internal to the runtime.
//
// Thread rules: everything here belongs to the thread that runs the call. The thread's current
// context and transaction are thread-local; a CallContext is used only by its call's thread.
#pragma once

#include <memory>
#include <string_view>

#include "platform/db/ambient_transaction.h"
#include "platform/mts/object_context.h"
#include "platform/mts/runtime.h"

namespace morvane::mts {

// The transaction that calls made by the current thread join (set by TransactionBinding and, for
// the duration of each intercepted call, by CallFrame), or nullptr.
const std::shared_ptr<Transaction>& CurrentTransaction();
// Sets it; returns the previous one.
std::shared_ptr<Transaction> ExchangeCurrentTransaction(std::shared_ptr<Transaction> tx);

// `tx` when it is set and has not ended, else nullptr: an ended transaction counts as none.
std::shared_ptr<Transaction> LiveOrNull(std::shared_ptr<Transaction> tx);

class CallContext final : public ObjectContext {
 public:
  enum class Vote { None, Complete, Abort };

  explicit CallContext(std::shared_ptr<Transaction> tx) : tx_(std::move(tx)) {}

  // Votes are recorded; the last one counts when the call ends. Without a transaction they
  // have no effect.
  void SetComplete() override { vote_ = Vote::Complete; }
  void SetAbort() override { vote_ = Vote::Abort; }
  automation::DispatchPtr CreateInstance(std::string_view progId) override;
  bool IsInTransaction() const override { return tx_ != nullptr; }

  Vote vote() const { return vote_; }
  const std::shared_ptr<Transaction>& transaction() const { return tx_; }

 private:
  std::shared_ptr<Transaction> tx_;  // nullptr: the call runs without a transaction
  Vote vote_ = Vote::None;
};

// One intercepted call: the constructor makes its context current and its transaction the
// thread's current and ambient transaction; End or Fail restores what was there before and
// settles the outcome (the destructor restores it when neither ran).
class CallFrame {
 public:
  // `beganTransaction`: the call began `tx` and ends it when it returns.
  CallFrame(std::shared_ptr<Transaction> tx, bool beganTransaction);
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  // The call returned normally. An abort vote dooms the transaction; the call that began it
  // commits it, or rolls it back when it is doomed. Raises the commit's error, and
  // kTransactionAborted when the transaction was doomed although this call did not vote to
  // abort (its caller would otherwise take a rolled-back call for a success).
  void End();
  // The call raised. As End, but raises nothing: the call's own error is what its caller sees.
  void Fail() noexcept;

 private:
  void Leave() noexcept;
  void Settle(bool failed);

  CallContext context_;
  bool began_;
  bool left_ = false;
  CallContext* previousContext_;
  std::shared_ptr<Transaction> previousTransaction_;
  db::AmbientTransaction* previousAmbient_;
};

// The current thread's context, or nullptr.
CallContext* CurrentCallContext();

}  // namespace morvane::mts
