#include "platform/automation/registry.h"

#include <algorithm>

#include "platform/automation/late_binding.h"

namespace morvane::automation {

Registry& Registry::Instance() {
  static Registry registry;
  return registry;
}

void Registry::Register(const TypeInfo& info, Factory factory) {
  std::lock_guard lock(mutex_);
  auto same = [&](const ClassRegistration& r) { return EqualsIgnoreCase(r.info->progId, info.progId); };
  auto it = std::find_if(classes_.begin(), classes_.end(), same);
  if (it != classes_.end())
    *it = ClassRegistration{&info, std::move(factory)};
  else
    classes_.push_back(ClassRegistration{&info, std::move(factory)});
}

void Registry::Unregister(std::string_view progId) {
  std::lock_guard lock(mutex_);
  std::erase_if(classes_, [&](const ClassRegistration& r) { return EqualsIgnoreCase(r.info->progId, progId); });
}

std::optional<ClassRegistration> Registry::Find(std::string_view name) const {
  std::lock_guard lock(mutex_);
  for (const auto& r : classes_)
    if (!name.empty() && (EqualsIgnoreCase(r.info->progId, name) || EqualsIgnoreCase(r.info->clsid, name))) return r;
  return std::nullopt;
}

std::vector<ClassRegistration> Registry::Classes() const {
  std::lock_guard lock(mutex_);
  return classes_;
}

DispatchPtr CreateObject(std::string_view progId) {
  auto reg = Registry::Instance().Find(progId);
  if (!reg) throw DispatchError(DispatchError::Kind::UnknownClass, "no class is registered under the ProgID \"" + std::string(progId) + "\"");
  return reg->factory();
}

}  // namespace morvane::automation
