#include "platform/mts/object_context.h"

#include "platform/automation/error.h"
#include "platform/mts/call_frame.h"

namespace morvane::mts {

ObjectContext* GetObjectContext() { return CurrentCallContext(); }

ObjectContext& RequireObjectContext() {
  ObjectContext* context = CurrentCallContext();
  if (!context)
    automation::Raise(automation::errors::kObjectNotSet, std::nullopt,
                      "no object context: the object must be created through the transaction runtime "
                      "(mts::CreateObject or ObjectContext::CreateInstance) for its calls to have one");
  return *context;
}

}  // namespace morvane::mts
