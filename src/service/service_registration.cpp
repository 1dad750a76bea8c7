#include "service/module.h"

namespace morvane::service {
void RegisterServiceClasses() {}
void UnregisterServiceClasses() {}
}  // namespace morvane::service
