#include "platform/automation/type_info.h"

#include <algorithm>

namespace morvane::automation {

const MemberInfo* TypeInfo::Find(std::string_view name, InvokeKind kind) const {
  for (const auto& m : members)
    if (m.kind == kind && EqualsIgnoreCase(m.name, name)) return &m;
  return nullptr;
}

const MemberInfo* TypeInfo::Find(DispId id, InvokeKind kind) const {
  for (const auto& m : members)
    if (m.kind == kind && m.dispId == id) return &m;
  return nullptr;
}

}  // namespace morvane::automation
