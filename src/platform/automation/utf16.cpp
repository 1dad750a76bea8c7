#include "platform/automation/utf16.h"

#include <algorithm>

namespace morvane::automation {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Appends the UTF-16 form of a code point.
void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD, or (strict) refuses it.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text, bool strict) {
  const std::size_t length = text.size();
  std::string out;
  out.reserve(length * 3);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (strict) return std::nullopt;
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace

std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int extra;
    char32_t cp;
    if (b < 0x80) {
      cp = b, extra = 0;
    } else if (b >= 0xC2 && b < 0xE0) {
      cp = b & 0x1F, extra = 1;
    } else if (b >= 0xE0 && b < 0xF0) {
      cp = b & 0x0F, extra = 2;
    } else if (b >= 0xF0 && b < 0xF5) {
      cp = b & 0x07, extra = 3;
    } else {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) break;
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    }
    const bool complete = j == i + 1 + static_cast<std::size_t>(extra);
    const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (!complete || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendUtf16(out, kReplacement);
      i = complete ? j : std::max(j, i + 1);
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

std::string FromUtf16(std::u16string_view text) { return *Utf16ToUtf8(text, false); }

std::optional<std::string> FromUtf16Strict(std::u16string_view text) { return Utf16ToUtf8(text, true); }

}  // namespace morvane::automation
