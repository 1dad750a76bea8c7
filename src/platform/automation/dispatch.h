// Dispatch: the base of every automation object (the public classes, the record and list objects,
// the suite components, the shared property manager). An object is reached through a DispatchPtr
// (counted reference) and called by DISPID with arguments already bound to its parameters; callers
// that know only a name go through late_binding.h, which binds names, counts, defaults and types.
//
// Classes implement Invoke with a DispatchTable (dispatch_table.h). One object serves one call at
// a time (apartment rule); objects that are shared across threads say so in their header.
#pragma once

#include <atomic>
#include <memory>
#include <span>

#include "platform/automation/type_info.h"
#include "platform/automation/variant.h"

namespace morvane::automation {

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  Dispatch();
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  virtual ~Dispatch();

  virtual const TypeInfo& GetTypeInfo() const = 0;

  // Calls member `id` of kind `kind`. REQUIRES: args holds one value per declared parameter, each
  // already converted to the parameter's type, Variant::Missing() for an omitted optional one
  // without default. By-reference parameters may be changed in place. Raises Error.
  virtual Variant Invoke(DispId id, InvokeKind kind, std::span<Variant> args) = 0;

  // The number of dispatch objects alive in the process (for DllCanUnloadNow).
  static long LiveObjects();

 private:
  static std::atomic<long> live_;
};

}  // namespace morvane::automation
