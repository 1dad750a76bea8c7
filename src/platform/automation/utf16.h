// Texts between UTF-8, the form every text of the system has, and UTF-16, the form of automation
// strings' storage (a byte array converted to text is taken as UTF-16 code units) and of ODBC's
// wide functions. Pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane::automation {

// The UTF-16 form of a text; each byte that is not part of valid UTF-8 becomes U+FFFD.
std::u16string ToUtf16(std::string_view utf8);

// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string FromUtf16(std::u16string_view text);

// The same, but nullopt when the text holds an unpaired surrogate.
std::optional<std::string> FromUtf16Strict(std::u16string_view text);

}  // namespace morvane::automation
