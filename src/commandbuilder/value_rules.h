// Small value rules of the command builder's checks: the equality of two stored or given values
// and the upper-casing of layout items. Internal to the command builder; no state.
#pragma once

#include <string>
#include <string_view>

#include "platform/automation/variant.h"

namespace morvane::commandbuilder {

// True when the two values are equal as the language's "=" compares them (numbers numerically, a
// number and a numeric text as numbers, texts binary). Null equals only Null; values that cannot
// be compared (a number and a non-numeric text) are unequal. Never raises.
bool SameValue(const automation::Variant& a, const automation::Variant& b);

// The text without its last character (a whole UTF-8 sequence). REQUIRES: !text.empty().
std::string_view WithoutLastCharacter(std::string_view text);

}  // namespace morvane::commandbuilder
