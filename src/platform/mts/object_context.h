// ObjectContext: the context the transaction runtime gives each call made on an object created
// through mts::CreateObject (or ObjectContext::CreateInstance). The called code votes on the
// outcome of the call's transaction with SetComplete and SetAbort and creates further objects
// inside its own context and transaction with CreateInstance.
//
// Outcome rule: when the outermost call of a transaction returns, the transaction commits unless
// an abort vote stands; a call that raised without voting leaves its statements to commit. The
// last vote of one context counts. An abort vote inside a transaction held by a caller dooms it.
//
// The context belongs to the thread that runs the call; GetObjectContext gives it.
#pragma once

#include <string_view>

#include "platform/automation/dispatch.h"

namespace morvane::mts {

class Transaction;

class ObjectContext {
 public:
  virtual ~ObjectContext() = default;
  virtual void SetComplete() = 0;
  virtual void SetAbort() = 0;
  // Creates an object of the ProgID inside this context's transaction (its transaction attribute
  // decides whether it joins it). Raises DispatchError UnknownClass for an unregistered ProgID.
  virtual automation::DispatchPtr CreateInstance(std::string_view progId) = 0;
  virtual bool IsInTransaction() const = 0;
};

// The context of the current call, or nullptr when the thread runs no call of the runtime.
ObjectContext* GetObjectContext();

// The context of the current call; raises 91 with a text saying that the object must be created
// through the transaction runtime when there is none (nothing has been written at that point).
ObjectContext& RequireObjectContext();

}  // namespace morvane::mts
