// The description of a served class that GET /v1/classes answers, read from its type
// information: identity, transaction attribute, and each member with its DISPID, kind, result
// type and parameters (name, type name, byRef, optional, default).
//
//   {"progId": "Morvane.VchTempSetUpdate", "className": "VchTempSetUpdate", "clsid": "{...}",
//    "interface": "_VchTempSetUpdate", "iid": "{...}", "typeLibrary": "Morvane",
//    "transaction": "Required",
//    "members": [{"name": "Append", "dispId": 1610809347, "kind": "method", "result": "I4",
//                 "params": [{"name": "sDsn", "type": "BSTR", "byRef": false, "optional": false,
//                             "default": null}, ...]}, ...]}
//
// Type names are those of the JSON form ("I4", "BSTR", "DISPATCH", "VARIANT" ...); "result" is
// null for a member without one, "default" null for a parameter without one. No state.
#pragma once

#include "call/json_form.h"
#include "platform/automation/type_info.h"

namespace morvane::call {

Json ClassJson(const automation::TypeInfo& info);

}  // namespace morvane::call
