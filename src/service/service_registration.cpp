#include "platform/automation/registry.h"
#include "service/module.h"
#include "service/type_library.h"
#include "service/vch_temp_set_info.h"
#include "service/vch_temp_set_update.h"

namespace morvane::service {

void RegisterServiceClasses() {
  auto& registry = automation::Registry::Instance();
  registry.Register(VchTempSetInfo::Table().info(), [] { return std::make_shared<VchTempSetInfo>(); });
  registry.Register(VchTempSetUpdate::Table().info(), [] { return std::make_shared<VchTempSetUpdate>(); });
}

void UnregisterServiceClasses() {
  auto& registry = automation::Registry::Instance();
  registry.Unregister(kInfoProgId);
  registry.Unregister(kUpdateProgId);
}

}  // namespace morvane::service
