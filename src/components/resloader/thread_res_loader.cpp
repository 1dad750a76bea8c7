#include "components/resloader/thread_res_loader.h"

#include <utility>

#include "platform/automation/late_binding.h"

namespace morvane::components {

namespace {

// Set once the thread's slot has been destroyed at thread exit. A trivially destructible flag
// stays readable to the end of the thread.
thread_local bool tLoaderSlotEnded = false;

struct LoaderSlot {
  automation::DispatchPtr loader;
  ~LoaderSlot() { tLoaderSlotEnded = true; }
};

}  // namespace

automation::DispatchPtr* ThreadResLoader() noexcept {
  if (tLoaderSlotEnded) return nullptr;
  thread_local LoaderSlot slot;
  return &slot.loader;
}

void UnloadResLoader() noexcept {
  automation::DispatchPtr* slot = ThreadResLoader();
  if (slot == nullptr) return;
  automation::DispatchPtr loader = std::exchange(*slot, nullptr);
  try {
    if (loader) automation::Call(*loader, "Unload");
  } catch (...) {
    // The loader is released in any case; a failing Unload changes nothing for the caller.
  }
}

}  // namespace morvane::components
