// ContextBoundObject: the dispatch object that the runtime hands out for an object of a
// registered class (mts::CreateObject, ObjectContext::CreateInstance). It has the type
// information of the object it wraps and runs each call on it in a new object context, in the
// transaction that the class's transaction attribute chooses:
//
//   NotSupported   no transaction
//   Supported      the creating transaction, else the caller's current one, else none
//   Required       the creating transaction, else the caller's current one, else a new one
//
// The creating transaction is the one of the context whose CreateInstance made the object; it is
// remembered (without keeping it alive) and joined even when a later call comes from elsewhere,
// as long as it has not ended. An ended transaction counts as none.
//
// Thread rules: those of the wrapped object (one call at a time); the wrapper adds no state that
// changes after construction.
#pragma once

#include <memory>
#include <span>

#include "platform/automation/dispatch.h"
#include "platform/mts/runtime.h"

namespace morvane::mts {

class ContextBoundObject final : public automation::Dispatch {
 public:
  // `creatingTransaction` may be nullptr (the object was not created inside a transaction).
  ContextBoundObject(automation::DispatchPtr inner, const std::shared_ptr<Transaction>& creatingTransaction);

  const automation::TypeInfo& GetTypeInfo() const override { return inner_->GetTypeInfo(); }
  // Runs the call in its own object context (see the header comment). Raises whatever the call
  // raises, unchanged; and, when the call began the transaction, the commit's error or
  // kTransactionAborted (see CallFrame::End).
  automation::Variant Invoke(automation::DispId id, automation::InvokeKind kind,
                             std::span<automation::Variant> args) override;

 private:
  automation::DispatchPtr inner_;
  std::weak_ptr<Transaction> creatingTransaction_;
};

}  // namespace morvane::mts
