#include "platform/mts/context_bound_object.h"

#include <utility>

#include "platform/mts/call_frame.h"

namespace morvane::mts {

using automation::TransactionAttribute;

ContextBoundObject::ContextBoundObject(automation::DispatchPtr inner,
                                       const std::shared_ptr<Transaction>& creatingTransaction)
    : inner_(std::move(inner)), creatingTransaction_(creatingTransaction) {}

automation::Variant ContextBoundObject::Invoke(automation::DispId id, automation::InvokeKind kind,
                                               std::span<automation::Variant> args) {
  std::shared_ptr<Transaction> tx;
  bool began = false;
  const TransactionAttribute attribute = inner_->GetTypeInfo().transaction;
  if (attribute != TransactionAttribute::NotSupported) {
    tx = LiveOrNull(creatingTransaction_.lock());
    if (!tx) tx = LiveOrNull(CurrentTransaction());
    if (!tx && attribute == TransactionAttribute::Required) {
      tx = Transaction::Begin();
      began = true;
    }
  }

  CallFrame frame(std::move(tx), began);
  automation::Variant result;
  try {
    result = inner_->Invoke(id, kind, args);
  } catch (...) {
    frame.Fail();
    throw;
  }
  frame.End();
  return result;
}

}  // namespace morvane::mts
