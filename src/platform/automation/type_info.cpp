#include "platform/automation/type_info.h"

#include <algorithm>

namespace morvane::automation {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

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
