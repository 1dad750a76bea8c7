#include "platform/mts/call_frame.h"

#include <utility>

#include "platform/automation/error.h"
#include "platform/automation/registry.h"
#include "platform/mts/context_bound_object.h"

namespace morvane::mts {

namespace errors = automation::errors;

namespace {
thread_local CallContext* currentContext = nullptr;
thread_local std::shared_ptr<Transaction> currentTransaction;

db::AmbientTransaction* AmbientOf(const std::shared_ptr<Transaction>& tx) {
  return dynamic_cast<db::AmbientTransaction*>(tx.get());
}
}  // namespace

const std::shared_ptr<Transaction>& CurrentTransaction() { return currentTransaction; }

std::shared_ptr<Transaction> ExchangeCurrentTransaction(std::shared_ptr<Transaction> tx) {
  return std::exchange(currentTransaction, std::move(tx));
}

std::shared_ptr<Transaction> LiveOrNull(std::shared_ptr<Transaction> tx) {
  if (tx && tx->IsEnded()) return nullptr;
  return tx;
}

CallContext* CurrentCallContext() { return currentContext; }

automation::DispatchPtr CallContext::CreateInstance(std::string_view progId) {
  return std::make_shared<ContextBoundObject>(automation::CreateObject(progId), tx_);
}

CallFrame::CallFrame(std::shared_ptr<Transaction> tx, bool beganTransaction)
    : context_(std::move(tx)),
      began_(beganTransaction),
      previousContext_(std::exchange(currentContext, &context_)),
      previousTransaction_(ExchangeCurrentTransaction(context_.transaction())),
      previousAmbient_(db::SetCurrentAmbientTransaction(AmbientOf(context_.transaction()))) {}

CallFrame::~CallFrame() { Leave(); }

void CallFrame::Leave() noexcept {
  if (left_) return;
  left_ = true;
  db::SetCurrentAmbientTransaction(previousAmbient_);
  currentTransaction = std::move(previousTransaction_);
  currentContext = previousContext_;
}

void CallFrame::End() {
  Leave();
  Settle(false);
}

void CallFrame::Fail() noexcept {
  Leave();
  try {
    Settle(true);
  } catch (...) {
    // The call's own error propagates; a failure to end the transaction after it is secondary.
  }
}

void CallFrame::Settle(bool failed) {
  const std::shared_ptr<Transaction>& tx = context_.transaction();
  if (!tx) return;
  const bool votedAbort = context_.vote() == CallContext::Vote::Abort;
  if (votedAbort) tx->Doom();
  if (!began_) return;
  if (!tx->IsDoomed()) {
    tx->Commit();
    return;
  }
  tx->Abort();
  if (!failed && !votedAbort)
    automation::Raise(errors::kTransactionAborted, std::nullopt,
                      "the call's transaction was rolled back: an object called in it voted to abort "
                      "(SetAbort), so nothing of it was committed");
}

}  // namespace morvane::mts
