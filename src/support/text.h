// Small text helpers that follow the component's own text rules: trimming removes spaces (U+0020)
// only, never tabs or other blanks, and letter case is folded for the ASCII letters only, the
// same folding that entry names, record keys and member names use. Texts are UTF-8; a multi-byte
// character never contains an ASCII byte, so byte-wise work on ASCII characters is safe.
// Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace morvane::support {

// The text without its leading and trailing spaces (a view into `text`).
constexpr std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// A copy with the ASCII letters A-Z turned into a-z; every other byte unchanged.
inline std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace morvane::support
