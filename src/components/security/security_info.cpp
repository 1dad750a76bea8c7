#include "components/security/security_info.h"

namespace morvane::components {
void RegisterSecurityService() {}
}
