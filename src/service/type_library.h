// The identity of the component's type library and of its two public classes: ProgIDs, class and
// interface identifiers, transaction attributes (as the runtime's custom attributes) and the
// DISPIDs of their methods.
#pragma once

#include <string_view>

#include "platform/automation/dispatch_table.h"

namespace morvane::service {

inline constexpr std::string_view kTypeLibraryName = "Morvane";
inline constexpr std::string_view kTypeLibraryId = "{6E1D2A40-5C0B-4B8E-9F31-2D7A1C0E5B01}";
inline constexpr int kTypeLibraryMajor = 5;
inline constexpr int kTypeLibraryMinor = 0;

// The runtime's custom attributes that mark a class's transaction attribute.
inline constexpr std::string_view kTransactionSupportedAttribute = "{17093CC8-9BD2-11CF-AA4F-304BF89C0001}";
inline constexpr std::string_view kTransactionRequiredAttribute = "{17093CC5-9BD2-11CF-AA4F-304BF89C0001}";

inline constexpr std::string_view kInfoProgId = "Morvane.VchTempSetInfo";
inline constexpr std::string_view kUpdateProgId = "Morvane.VchTempSetUpdate";

// The type information shared by both classes: name, ProgID, identifiers, transaction attribute.
automation::TypeInfo ClassIdentity(std::string_view className, std::string_view clsid, std::string_view iid,
                                   automation::TransactionAttribute transaction);

}  // namespace morvane::service
