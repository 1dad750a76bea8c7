// The security service "QuenBase.SecurityInfo": tells whether a user may act on an object. The
// rights live in the caller's database, table t_AccessRight (FUserID, FObjectType, FObjectID,
// FAccessMask): a user may act on an object with the access bits its row's mask holds. The check
// opens a connection on the caller's "ConnectString", so inside a runtime transaction it reads
// through the transaction's own connection.
//
// Dispatch member (transaction attribute Supported):
//   AccessCheck(Props, ObjectType, ObjectID, Access, Flag, Component) (DISPID 1) -> Boolean
// Objects hold no state; one object serves one call at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation/dispatch_table.h"

namespace morvane::components {

// The error number of a refusal ("Permission denied").

class SecurityInfo : public automation::DispatchObject<SecurityInfo> {
 public:
  static const automation::DispatchTable<SecurityInfo>& Table();
  static constexpr std::string_view kProgId = "QuenBase.SecurityInfo";

  // Whether the user named by the "UserID" entry of `props` (a connection description, see
  // datasource/c_parse.h) holds every bit of `access` on the object (`objectType`, `objectId`):
  // true when a row of t_AccessRight for the three holds them all. A refusal returns false when
  // `raiseOnRefusal` is false; otherwise it raises kPermissionDenied with Source the ProgID and a
  // Description naming the user, the missing right (hex), the object and `component`.
  // Raises the parser's errors (5, 13, 457) for a description without a usable "ConnectString"
  // or "UserID", and the database's errors (a missing table, a connection that cannot open).
  bool AccessCheck(std::string_view props, std::int32_t objectType, std::int32_t objectId, std::int32_t access,
                   bool raiseOnRefusal, std::string_view component);
};

// Registers "QuenBase.SecurityInfo" in the process's registry.
void RegisterSecurityService();

}  // namespace morvane::components
