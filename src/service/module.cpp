#include "service/module.h"

#include <map>
#include <mutex>
#include <string>

#include "components/objlib/record_access.h"
#include "components/resloader/resource_loader.h"
#include "components/security/security_info.h"
#include "platform/mts/shared_property.h"

using morvane::automation::Dispatch;
using morvane::automation::Registry;
using morvane::service::ClassFactory;

std::int32_t DllRegisterServer() {
  morvane::objlib::RegisterObjLibClasses();
  morvane::mts::RegisterRuntimeClasses();
  morvane::components::RegisterResourceLoader();
  morvane::components::RegisterSecurityService();
  morvane::service::RegisterServiceClasses();
  return S_OK;
}

std::int32_t DllUnregisterServer() {
  morvane::service::UnregisterServiceClasses();
  return S_OK;
}

std::int32_t DllGetClassObject(const char* clsidOrProgId, const char* /*iid*/, void** ppv) {
  if (!ppv || !clsidOrProgId) return E_POINTER;
  *ppv = nullptr;
  auto reg = Registry::Instance().Find(clsidOrProgId);
  if (!reg) return CLASS_E_CLASSNOTAVAILABLE;
  // Class objects live as long as the process, keyed by the class's type information.
  static std::mutex mutex;
  static std::map<const morvane::automation::TypeInfo*, std::unique_ptr<ClassFactory>> factories;
  std::lock_guard lock(mutex);
  auto& slot = factories[reg->info];
  if (!slot) slot = std::make_unique<ClassFactory>(*reg);
  *ppv = slot.get();
  return S_OK;
}

std::int32_t DllCanUnloadNow() { return Dispatch::LiveObjects() == 0 ? S_OK : S_FALSE; }
