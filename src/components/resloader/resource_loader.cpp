#include "components/resloader/resource_loader.h"

namespace morvane::components {
void RegisterResourceLoader() {}
}
