// GetResString and the thread's resource loader. Each thread keeps its own loader from the first
// text it localises until a CParse of that thread ends (UnloadResLoader) or the thread ends; the
// loader is reached by member name only, as any registered "PellRESLOADER.Loader" may stand in.
#include <utility>

#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "support/globals.h"
#include "support/strings.h"
#include "support/text.h"

namespace morvane::support {

namespace {

using automation::DispatchPtr;
using automation::InvokeKind;

constexpr std::string_view kSimplifiedChinese = "chs";

// Set once the thread's loader slot has been destroyed at thread exit. A trivially destructible
// flag stays readable to the end of the thread, so a CParse ended later (by another thread-exit
// or static destructor) finds no loader rather than a destroyed one.
thread_local bool tLoaderSlotEnded = false;

struct LoaderSlot {
  DispatchPtr loader;
  ~LoaderSlot() { tLoaderSlotEnded = true; }
};

// The current thread's slot. REQUIRES: !tLoaderSlotEnded.
LoaderSlot& ThreadSlot() {
  thread_local LoaderSlot slot;
  return slot;
}

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
    if (tLoaderSlotEnded) return std::string(text);
    DispatchPtr& loader = ThreadSlot().loader;
    if (!loader) loader = automation::CreateObject(strings::kResourceLoaderProgId);

    // The loader is kept up to date also for "chs", which needs no lookup.
    SetPropertyIfDifferent(*loader, "ResFileBaseName", strings::kResFileBaseName);
    SetPropertyIfDifferent(*loader, "LanguageID", language);
    if (language == kSimplifiedChinese) return std::string(text);

    // The simplified-Chinese text itself, trimmed, is the resource key. An empty result is a
    // valid translation and is returned as it comes.
    return automation::ToText(automation::Call(*loader, "LoadString", TrimSpaces(text)));
  } catch (...) {
    // No loader, a refused creation, a failing member or a result that is no text: the text
    // itself. Nothing escapes, so a caller's error in flight is never replaced.
    return std::string(text);
  }
}

void UnloadResLoader() noexcept {
  if (tLoaderSlotEnded) return;
  DispatchPtr loader;
  try {
    loader = std::exchange(ThreadSlot().loader, nullptr);
    if (loader) automation::Call(*loader, "Unload");
  } catch (...) {
    // The loader is released in any case; a failing Unload changes nothing for the caller.
  }
}

}  // namespace morvane::support
