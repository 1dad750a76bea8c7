#include "platform/mts/runtime.h"

#include <utility>

#include "platform/automation/registry.h"
#include "platform/mts/call_frame.h"
#include "platform/mts/context_bound_object.h"
#include "platform/mts/transaction.h"

namespace morvane::mts {

automation::DispatchPtr CreateObject(std::string_view progId) {
  return std::make_shared<ContextBoundObject>(automation::CreateObject(progId), nullptr);
}

std::shared_ptr<Transaction> Transaction::Begin(WriteLock writeLock) {
  return std::make_shared<RuntimeTransaction>(writeLock);
}

TransactionBinding::TransactionBinding(std::shared_ptr<Transaction> tx)
    : previous_(ExchangeCurrentTransaction(std::move(tx))) {}

TransactionBinding::~TransactionBinding() { ExchangeCurrentTransaction(std::move(previous_)); }

TransactionScope::TransactionScope() : tx_(Transaction::Begin()), binding_(tx_) {}

TransactionScope::~TransactionScope() {
  try {
    tx_->Abort();  // no effect when Commit or Abort ended it
  } catch (...) {
    // A rollback failure cannot be reported from here; the connections went back to the pool.
  }
}

void TransactionScope::Commit() { tx_->Commit(); }

void TransactionScope::Abort() { tx_->Abort(); }

}  // namespace morvane::mts
