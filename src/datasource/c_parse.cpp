#include "datasource/c_parse.h"

#include "components/resloader/thread_res_loader.h"
#include "platform/automation/convert.h"
#include "platform/automation/text.h"

namespace morvane::datasource {

CParse::~CParse() { components::UnloadResLoader(); }

bool CParse::ParseString(std::string_view sToParse) {
  m_PropsString = std::string(sToParse);
  db::ParseConnectionDescription(m_PropsString, m_Props);
  return true;
}

std::string CParse::GetProperty(std::string_view sPropName) const { return db::DescriptionEntry(m_Props, sPropName); }

// The text converted as the automation conversion to a Long does: blanks around the number are
// ignored and a fraction is rounded half to even ("12.7" is 13); "" or "12abc" raise 13, a number
// outside the 32-bit range raises 6.
std::int32_t CParse::UserID() const { return automation::ToLong(automation::Variant(GetProperty("UserID"))); }

bool CParse::IsIndustry() const { return automation::EqualsIgnoreCase(GetProperty("AcctType"), "GY"); }

}  // namespace morvane::datasource
