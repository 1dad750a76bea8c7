#include "components/security/security_info.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/automation/convert.h"
#include "platform/automation/registry.h"
#include "platform/db/connection.h"
#include "platform/db/connection_description.h"

namespace morvane::components {

namespace errors = automation::errors;

namespace {

using automation::DispatchTable;
using automation::TypeInfo;
using automation::Variant;

constexpr std::string_view kRightsQuery =
    "SELECT FAccessMask FROM t_AccessRight WHERE FUserID = ? AND FObjectType = ? AND FObjectID = ?";

const std::string& Source() {
  static const std::string source(SecurityInfo::kProgId);
  return source;
}

// The mask a row holds, as 32 bits. Stored masks may be signed (-1 for every bit) or unsigned
// (4294967295); anything else is a fault of the rights data.
std::uint32_t MaskOf(const Variant& value) {
  if (value.IsNull()) return 0;
  double d = automation::ToDouble(value);
  if (d != std::floor(d) || d < -2147483648.0 || d > 4294967295.0)
    automation::Raise(errors::kOverflow, Source(),
                      "The access mask " + automation::ToText(value) + " of t_AccessRight is not a 32-bit mask");
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(d));
}

std::string Hex(std::uint32_t bits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", bits);
  return text;
}

// "user 2" or "user 2 (guest)" when the description names the user.
std::string UserText(const db::DescriptionEntries& props, std::int32_t userId) {
  std::string text = "user " + std::to_string(userId);
  for (const auto& [name, value] : props)
    if (automation::EqualsIgnoreCase(name, "UserName") && !value.empty()) text += " (" + value + ")";
  return text;
}

TypeInfo SecurityTypeInfo() {
  TypeInfo info;
  info.className = "SecurityInfo";
  info.progId = std::string(SecurityInfo::kProgId);
  info.clsid = "{6DB580AF-9BD6-4D20-8951-C9BEA0BFD2F8}";
  info.interfaceName = "_SecurityInfo";
  info.iid = "{68CFBEEC-7692-4626-8D92-8D80DA754F41}";
  info.typeLibrary = "QuenBase";
  info.transaction = automation::TransactionAttribute::Supported;
  return info;
}

}  // namespace

const DispatchTable<SecurityInfo>& SecurityInfo::Table() {
  using automation::ParamInfo;
  using automation::VT_BOOL;
  using automation::VT_BSTR;
  using automation::VT_I4;
  static const DispatchTable<SecurityInfo> table =
      DispatchTable<SecurityInfo>(SecurityTypeInfo())
          .Method("AccessCheck", 1,
                  {ParamInfo{"Props", VT_BSTR}, ParamInfo{"ObjectType", VT_I4, true},
                   ParamInfo{"ObjectID", VT_I4, true}, ParamInfo{"Access", VT_I4, true}, ParamInfo{"Flag", VT_BOOL},
                   ParamInfo{"Component", VT_BSTR, true}},
                  VT_BOOL, [](SecurityInfo& self, std::span<Variant> a) {
                    return Variant(self.AccessCheck(automation::ToText(a[0]), automation::ToLong(a[1]),
                                                    automation::ToLong(a[2]), automation::ToLong(a[3]),
                                                    automation::ToBool(a[4]), automation::ToText(a[5])));
                  });
  return table;
}

bool SecurityInfo::AccessCheck(std::string_view props, std::int32_t objectType, std::int32_t objectId,
                               std::int32_t access, bool raiseOnRefusal, std::string_view component) {
  db::DescriptionEntries entries;
  db::ParseConnectionDescription(props, entries);
  const std::int32_t userId = automation::ToLong(Variant(db::DescriptionEntry(entries, "UserID")));

  auto connection = db::Connection::New();
  connection->Open(db::DescriptionEntry(entries, "ConnectString"));
  const std::array<db::BoundParameter, 3> params = {
      db::BoundParameter{"FUserID", db::adInteger, db::adParamInput, 0, Variant(userId)},
      db::BoundParameter{"FObjectType", db::adInteger, db::adParamInput, 0, Variant(objectType)},
      db::BoundParameter{"FObjectID", db::adInteger, db::adParamInput, 0, Variant(objectId)},
  };
  db::ResultSet rights = connection->ExecuteWith(kRightsQuery, params);
  connection->Close();

  const auto wanted = static_cast<std::uint32_t>(access);
  std::optional<std::uint32_t> held;
  if (!rights.rows.empty() && !rights.rows.front().empty()) held = MaskOf(rights.rows.front().front());
  if (held && (*held & wanted) == wanted) return true;
  if (!raiseOnRefusal) return false;

  std::string object = "object type " + std::to_string(objectType) + ", object " + std::to_string(objectId);
  std::string why = UserText(entries, userId);
  if (held)
    why += " lacks the right " + Hex(wanted & ~*held) + " on " + object;
  else
    why += " holds no rights on " + object + (wanted ? " (the right " + Hex(wanted) + " is missing)" : "");
  automation::Raise(errors::kPermissionDenied, Source(),
                    "Permission denied: " + why + ", asked for by " + std::string(component));
}

void RegisterSecurityService() {
  automation::Registry::Instance().Register(SecurityInfo::Table().info(),
                                            [] { return std::make_shared<SecurityInfo>(); });
}

}  // namespace morvane::components
