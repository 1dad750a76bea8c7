// Text helpers that follow the system's own text rules, shared by every layer: trimming removes
// spaces (U+0020) only, never tabs or other blanks, and letter case is folded for the ASCII
// letters only, the same folding that entry names, record keys, member names and connection
// string keys use. Texts are UTF-8; a multi-byte character never contains an ASCII byte, so
// byte-wise work on ASCII characters is safe. Pure functions, safe from any thread.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace morvane::automation {

constexpr char AsciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

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
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

// A copy with the ASCII letters a-z turned into A-Z; every other byte unchanged.
inline std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpperChar(c);
  return out;
}

// True when the texts are equal once their ASCII letters are folded.
constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLowerChar(x) == AsciiLowerChar(y); });
}

}  // namespace morvane::automation
