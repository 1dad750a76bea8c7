#include "datasource/c_parse.h"

#include <unordered_set>
#include <utility>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"
#include "support/globals.h"
#include "support/text.h"

namespace morvane::datasource {

using automation::Raise;
namespace errors = automation::errors;

// Delimiters are matched as exactly these characters: the full-width forms ("＝", "；", "｝")
// are ordinary characters of a name or value, so Chinese texts in values are never cut.
namespace {
constexpr std::string_view kNameEnd = "=";
constexpr std::string_view kValueEnd = ";";
constexpr char kBraceOpen = '{';
constexpr std::string_view kBraceClose = "}";
}  // namespace

CParse::~CParse() { support::UnloadResLoader(); }

// The part before the first delimiter; the rest becomes what follows it. Without a delimiter the
// whole rest is the result and the rest becomes empty.
std::string_view CParse::SplitFirst(std::string_view& rest, std::string_view delimiter) {
  const auto pos = rest.find(delimiter);
  if (pos == std::string_view::npos) return std::exchange(rest, std::string_view{});
  const std::string_view first = rest.substr(0, pos);
  rest.remove_prefix(pos + delimiter.size());
  return first;
}

std::string_view CParse::NextName(std::string_view& rest) {
  return support::TrimSpaces(SplitFirst(rest, kNameEnd));
}

std::string_view CParse::NextValue(std::string_view& rest) {
  rest = support::TrimSpaces(rest);
  std::string_view value;
  if (!rest.empty() && rest.front() == kBraceOpen) {
    rest.remove_prefix(1);
    value = SplitFirst(rest, kBraceClose);
    SplitFirst(rest, kValueEnd);  // skips whatever follows the "}" up to and including the ";"
  } else {
    value = SplitFirst(rest, kValueEnd);
  }
  return support::TrimSpaces(value);
}

bool CParse::ParseString(std::string_view sToParse) {
  m_PropsString = std::string(sToParse);
  m_Props.clear();

  // Names already taken, ASCII letters folded; keeps the duplicate test linear in the text.
  std::unordered_set<std::string> taken;
  std::string_view rest = m_PropsString;
  for (;;) {
    const std::string_view name = NextName(rest);
    const std::string_view value = NextValue(rest);
    if (name.empty()) break;
    if (!taken.insert(support::AsciiLower(name)).second) Raise(errors::kDuplicateKey);
    m_Props.emplace_back(std::string(name), std::string(value));
  }
  return true;
}

std::string CParse::GetProperty(std::string_view sPropName) const {
  for (const auto& [name, value] : m_Props)
    if (automation::EqualsIgnoreCase(name, sPropName)) return value;
  Raise(errors::kInvalidProcedureCall);
}

// The text converted as the automation conversion to a Long does: blanks around the number are
// ignored and a fraction is rounded half to even ("12.7" is 13); "" or "12abc" raise 13, a number
// outside the 32-bit range raises 6.
std::int32_t CParse::UserID() const { return automation::ToLong(automation::Variant(GetProperty("UserID"))); }

bool CParse::IsIndustry() const { return automation::EqualsIgnoreCase(GetProperty("AcctType"), "GY"); }

}  // namespace morvane::datasource
