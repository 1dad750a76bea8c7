// The module entry points of the component library. DllRegisterServer registers every class the
// library holds (the two public classes, the record and list objects, the suite components and
// the runtime's shared property manager) in the process's registry, so that CreateObject by ProgID
// works in-process and in the host. A program that loads the library (dlopen) calls it first.
//
//   DllRegisterServer();
//   ClassFactory* f = nullptr;
//   DllGetClassObject("Morvane.VchTempSetInfo", nullptr, reinterpret_cast<void**>(&f));
//   DispatchPtr obj = f->CreateInstance();
#pragma once

#include <cstdint>

#include "platform/automation/registry.h"

namespace morvane::service {

// A class object: makes objects of one registered class. Owned by the library; it lives until
// the process ends, so callers never release it.
class ClassFactory {
 public:
  explicit ClassFactory(automation::ClassRegistration registration) : registration_(std::move(registration)) {}
  // A plain object (no runtime context); see mts::CreateObject for the intercepted form.
  automation::DispatchPtr CreateInstance() const { return registration_.factory(); }
  const automation::TypeInfo& GetTypeInfo() const { return *registration_.info; }

 private:
  automation::ClassRegistration registration_;
};

// Registers the two public classes (VchTempSetInfo, VchTempSetUpdate).
void RegisterServiceClasses();
void UnregisterServiceClasses();

}  // namespace morvane::service

// Result codes of the entry points.
inline constexpr std::int32_t S_OK = 0;
inline constexpr std::int32_t S_FALSE = 1;
inline constexpr std::int32_t CLASS_E_CLASSNOTAVAILABLE = static_cast<std::int32_t>(0x80040111u);
inline constexpr std::int32_t E_POINTER = static_cast<std::int32_t>(0x80004003u);

extern "C" {
// Registers every class of the library; idempotent. Returns S_OK.
std::int32_t DllRegisterServer();
// Removes the library's classes from the registry. Returns S_OK.
std::int32_t DllUnregisterServer();
// *ppv := the class object (a morvane::service::ClassFactory*) of a ProgID or class identifier
// "{...}"; `iid` is accepted and ignored (every class object has the one interface). Returns S_OK,
// or CLASS_E_CLASSNOTAVAILABLE when no such class is registered.
std::int32_t DllGetClassObject(const char* clsidOrProgId, const char* iid, void** ppv);
// S_OK when no object of the process is alive, S_FALSE otherwise.
std::int32_t DllCanUnloadNow();
}
