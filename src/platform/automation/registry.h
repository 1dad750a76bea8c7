// Registry: ProgID and class identifier to class, filled by the module's registration entry
// points (DllRegisterServer) and by the platform's own classes. Process-wide; every member is
// safe to call from any thread (guarded by an internal mutex).
//
// automation::CreateObject is the plain object creation: it makes the object and nothing else.
// Calls that must run under the transaction runtime go through mts::CreateObject instead.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/dispatch.h"

namespace morvane::automation {

using Factory = std::function<DispatchPtr()>;

struct ClassRegistration {
  const TypeInfo* info = nullptr;  // static type information of the class; outlives the registry
  Factory factory;
};

class Registry {
 public:
  static Registry& Instance();

  // Registers (or replaces) the class of info.progId / info.clsid.
  void Register(const TypeInfo& info, Factory factory);
  // Removes the class; no effect when it is not registered.
  void Unregister(std::string_view progId);
  // The class of a ProgID (letter case ignored) or of a class identifier "{...}"; nullopt if none.
  std::optional<ClassRegistration> Find(std::string_view progIdOrClsid) const;
  // Every registered class, in registration order.
  std::vector<ClassRegistration> Classes() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ClassRegistration> classes_;  // guarded by mutex_
};

// Creates an object of a registered class. Raises DispatchError kind UnknownClass (number 429)
// when the ProgID is not registered.
DispatchPtr CreateObject(std::string_view progId);

}  // namespace morvane::automation
