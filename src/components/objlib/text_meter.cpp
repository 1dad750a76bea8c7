#include "components/objlib/text_meter.h"

namespace morvane::objlib {

using automation::DispatchTable;
using automation::TypeInfo;
using automation::Variant;

namespace {

TypeInfo MeterTypeInfo() {
  TypeInfo info;
  info.className = "TextMeter";
  info.progId = std::string(TextMeter::kProgId);
  info.clsid = "{6CC42C32-B005-43DD-A513-A95147DD35EF}";
  info.interfaceName = "_TextMeter";
  info.iid = "{6E6F7FA1-A7F3-4EFE-B2CD-497863C65592}";
  info.typeLibrary = "ObjLib";
  return info;
}

// The length of the well-formed UTF-8 sequence at the start of s (1 to 4), or 0 when the bytes
// there do not form one (a stray continuation byte, an overlong form, a surrogate, a code point
// above U+10FFFF, a truncated sequence).
std::size_t SequenceLength(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

}  // namespace

std::int32_t TextMeter::Measure(std::string_view text) const {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::int32_t count = 0;
  for (std::size_t i = 0; i < size; ++count) {
    const unsigned char b0 = p[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    // The common three-byte forms (most of the CJK range) whose second byte may be any
    // continuation byte; every other form goes through the full check.
    if (b0 >= 0xE1 && b0 != 0xED && b0 <= 0xEF && size - i >= 3 && (p[i + 1] & 0xC0) == 0x80 &&
        (p[i + 2] & 0xC0) == 0x80) {
      i += 3;
      continue;
    }
    const std::size_t n = SequenceLength(text.substr(i));
    i += n == 0 ? 1 : n;  // a malformed byte counts as one character
  }
  return count;
}

const DispatchTable<TextMeter>& TextMeter::Table() {
  using automation::VT_BSTR;
  using automation::VT_I4;
  static const DispatchTable<TextMeter> table = DispatchTable<TextMeter>(MeterTypeInfo())
      .Method("Measure", 1, {{"Text", VT_BSTR}}, VT_I4,
              [](TextMeter& self, std::span<Variant> a) { return Variant(self.Measure(a[0].text())); });
  return table;
}

}  // namespace morvane::objlib
