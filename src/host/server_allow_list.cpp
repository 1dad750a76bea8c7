#include "host/server_allow_list.h"

#include <algorithm>

#include "datasource/c_parse.h"
#include "host/server_access_log.h"
#include "host/server_config.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "platform/automation/text.h"

namespace morvane::host {

namespace {

// The ConnectString entry of a connection description, or nullopt when the text does not parse
// as one or has no such entry.
std::optional<std::string> ConnectStringOf(const std::string& description) {
  datasource::CParse parse;
  try {
    parse.ParseString(description);
  } catch (const automation::Error&) {
    return std::nullopt;
  }
  for (const auto& [name, value] : parse.Entries())
    if (automation::EqualsIgnoreCase(name, "ConnectString")) return value;
  return std::nullopt;
}

}  // namespace

ConnectStringAllowList::ConnectStringAllowList(const std::vector<std::string>& connectStrings) {
  for (std::size_t i = 0; i < connectStrings.size(); ++i) {
    auto normalised = db::NormaliseConnectionString(connectStrings[i]);
    if (!normalised)
      throw HostConfigError("allowed connection string " + std::to_string(i + 1) +
                            " cannot be used: it is empty, cannot be parsed or names a key twice");
    allowed_.push_back(std::move(*normalised));
  }
}

bool ConnectStringAllowList::Allows(std::string_view connectString) const {
  const auto normalised = db::NormaliseConnectionString(connectString);
  return normalised && std::find(allowed_.begin(), allowed_.end(), *normalised) != allowed_.end();
}

call::CallValidator ConnectStringAllowList::Validator() const {
  return [this](const automation::TypeInfo&, const automation::MemberInfo& member,
                std::span<const automation::Variant> args) -> std::optional<std::string> {
    for (std::size_t i = 0; i < args.size() && i < member.params.size(); ++i) {
      if (!args[i].IsText()) continue;
      const std::string& name = member.params[i].name;
      std::optional<std::string> connectString = ConnectStringOf(args[i].text());
      if (!connectString) continue;  // not a description, or one the method itself refuses
      if (Allows(*connectString)) continue;
      return "the connection string of " + name + " (" + MaskPasswords(*connectString) +
             ") is not allowed: this host may open only the databases of its configuration";
    }
    return std::nullopt;
  };
}

}  // namespace morvane::host
