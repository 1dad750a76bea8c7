// GetKeyValue: the value of one entry of a name=value text, found by a plain, case-insensitive
// substring match of "key=". Unlike CParse it knows no braces: a value ends at the first ";".
#include "support/globals.h"
#include "platform/automation/text.h"

namespace morvane::support {

std::string GetKeyValue(std::string_view source, std::string_view key) {
  try {
    std::string work(source);
    if (work.empty() || work.back() != ';') work += ';';

    // Letter case is folded for ASCII letters only, so byte offsets match in both texts.
    const std::string needle = automation::AsciiLower(key) + "=";
    const auto match = automation::AsciiLower(work).find(needle);
    if (match == std::string::npos) return {};

    // The entry runs from the match to the next ";" (a key holding ";" ends before its "=").
    const auto end = work.find(';', match);
    const auto valueStart = match + needle.size();
    if (end < valueStart) return {};
    return work.substr(valueStart, end - valueStart);
  } catch (...) {
    return {};
  }
}

}  // namespace morvane::support
