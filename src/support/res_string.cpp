// GetResString through the thread's resource loader (components/resloader/thread_res_loader.h).
// The loader is reached by member name only, as any registered "PellRESLOADER.Loader" may stand in.
#include "components/resloader/resource_loader.h"
#include "components/resloader/thread_res_loader.h"
#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/automation/text.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {

namespace {

using automation::DispatchPtr;
using automation::InvokeKind;

constexpr std::string_view kSimplifiedChinese = "chs";

automation::Variant GetProperty(automation::Dispatch& obj, std::string_view name) {
  std::vector<automation::Variant> none;
  return automation::CallByName(obj, name, InvokeKind::PropertyGet, none);
}

// Writes the property only when its current value, as text, differs (exact comparison).
void SetPropertyIfDifferent(automation::Dispatch& obj, std::string_view name, std::string_view value) {
  if (automation::ToText(GetProperty(obj, name)) != value) automation::PutProperty(obj, name, value);
}

}  // namespace

std::string GetResString(std::string_view text, std::string_view language) {
  try {
    DispatchPtr* slot = components::ThreadResLoader();
    if (slot == nullptr) return std::string(text);
    DispatchPtr& loader = *slot;
    if (!loader) loader = automation::CreateObject(components::ResourceLoader::kProgId);

    // The loader is kept up to date also for "chs", which needs no lookup.
    SetPropertyIfDifferent(*loader, "ResFileBaseName", strings::kResFileBaseName);
    SetPropertyIfDifferent(*loader, "LanguageID", language);
    if (language == kSimplifiedChinese) return std::string(text);

    // The simplified-Chinese text itself, trimmed, is the resource key. An empty result is a
    // valid translation and is returned as it comes.
    return automation::ToText(automation::Call(*loader, "LoadString", automation::TrimSpaces(text)));
  } catch (...) {
    // No loader, a refused creation, a failing member or a result that is no text: the text
    // itself. Nothing escapes, so a caller's error in flight is never replaced.
    return std::string(text);
  }
}

}  // namespace morvane::support
