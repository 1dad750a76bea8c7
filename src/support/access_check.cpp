// The access-rights check: the suite's security service, created inside the caller's object
// context so that it joins the caller's activity and transaction, is asked by late binding.
#include <vector>

#include "platform/automation/late_binding.h"
#include "platform/mts/object_context.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {

void CheckUserAccess(const datasource::CDataSource& ds, std::int32_t first, std::int32_t second,
                     std::int32_t third, const std::string& componentName) {
  mts::ObjectContext& context = mts::RequireObjectContext();
  automation::DispatchPtr security = context.CreateInstance(strings::kSecurityServiceProgId);
  if (!ds.ParseObject) automation::Raise(automation::errors::kObjectNotSet);
  // The service takes the properties text by value, the three numbers and the component name by
  // reference, and the Boolean True; its result is not used.
  std::vector<Variant> args{Variant(ds.ParseObject->PropsString()), Variant(first), Variant(second),
                            Variant(third), Variant(true), Variant(componentName)};
  automation::CallByName(*security, "AccessCheck", automation::InvokeKind::Method, args);
}

}  // namespace morvane::support
