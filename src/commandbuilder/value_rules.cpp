#include "commandbuilder/value_rules.h"

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/automation/text.h"

namespace morvane::commandbuilder {

bool SameValue(const automation::Variant& a, const automation::Variant& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  try {
    return automation::CompareValues(a, b) == 0;
  } catch (const automation::Error&) {
    return false;
  }
}

std::string_view WithoutLastCharacter(std::string_view text) {
  std::size_t end = text.size() - 1;
  // Step back over UTF-8 continuation bytes (10xxxxxx) to the sequence's lead byte.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace morvane::commandbuilder
