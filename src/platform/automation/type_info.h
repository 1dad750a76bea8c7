// Type information of a dispatch class: its identity (ProgID, class and interface GUIDs, type
// library), its transaction attribute, and its members with their DISPIDs and parameters. The
// late-binding layer (late_binding.h) binds arguments by it; the host lists it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/text.h"
#include "platform/automation/variant.h"

namespace morvane::automation {

using DispId = std::int32_t;

enum class InvokeKind { Method = 1, PropertyGet = 2, PropertyPut = 4 };

// How the transaction runtime treats calls on objects of a class.
enum class TransactionAttribute { NotSupported, Supported, Required };

struct ParamInfo {
  std::string name;
  VarType type = VT_VARIANT;  // VT_VARIANT: any value, not converted; VT_DISPATCH: an object
  bool byRef = false;
  bool optional = false;
  // Given to an omitted optional parameter. Variant::Missing() when the parameter has no default.
  Variant defaultValue = Variant::Missing();
};

struct MemberInfo {
  std::string name;
  DispId dispId = 0;
  InvokeKind kind = InvokeKind::Method;
  std::vector<ParamInfo> params;  // for a property put, the last one is the assigned value
  VarType result = VT_EMPTY;      // VT_EMPTY: no result
};

struct CustomAttribute {
  std::string guid;
  Variant value;
};

struct TypeInfo {
  std::string className;       // "VchTempSetInfo"
  std::string progId;          // "Morvane.VchTempSetInfo"
  std::string clsid;           // "{...}"
  std::string interfaceName;   // "_VchTempSetInfo"
  std::string iid;             // "{...}"
  std::string typeLibrary;     // "Morvane"
  TransactionAttribute transaction = TransactionAttribute::NotSupported;
  std::vector<CustomAttribute> customAttributes;
  std::vector<MemberInfo> members;

  // The member of that name and kind (name compared without regard to ASCII case), or nullptr.
  const MemberInfo* Find(std::string_view name, InvokeKind kind) const;
  const MemberInfo* Find(DispId id, InvokeKind kind) const;
};

}  // namespace morvane::automation
