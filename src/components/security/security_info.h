// The security service "QuenBase.SecurityInfo".
// (Placeholder contract; see the implementation's header comment once written.)
#pragma once

namespace morvane::components {
void RegisterSecurityService();
}
