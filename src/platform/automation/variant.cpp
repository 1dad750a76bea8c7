#include "platform/automation/variant.h"

namespace morvane::automation {

VarType Variant::vt() const {
  static constexpr VarType kByIndex[] = {VT_EMPTY, VT_NULL, VT_I2,   VT_I4,    VT_R4,
                                         VT_R8,    VT_CY,   VT_DATE, VT_BSTR,  VT_BOOL,
                                         VT_UI1,   VT_BYTES, VT_DISPATCH, VT_ERROR};
  return kByIndex[v_.index()];
}

std::string_view VarTypeName(VarType vt) {
  switch (vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return "I2";
    case VT_I4: return "I4";
    case VT_R4: return "R4";
    case VT_R8: return "R8";
    case VT_CY: return "CY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "DISPATCH";
    case VT_ERROR: return "ERROR";
    case VT_BOOL: return "BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "UNKNOWN";
    case VT_DECIMAL: return "DECIMAL";
    case VT_I1: return "I1";
    case VT_UI1: return "UI1";
    case VT_BYTES: return "BYTES";
    default: return "UNSUPPORTED";
  }
}

}  // namespace morvane::automation
