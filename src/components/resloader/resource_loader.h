// The resource loader "PellRESLOADER.Loader": localised texts from gettext catalogues.
// (Placeholder contract; see the implementation's header comment once written.)
#pragma once

namespace morvane::components {
void RegisterResourceLoader();
}
