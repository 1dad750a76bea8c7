// Fuzzes the value conversions with arbitrary text and arbitrary bit patterns.
//
// The input, taken as a text, is converted to each numeric, date and Boolean type; a conversion
// may only fail with 6 (overflow) or 13 (type mismatch). A value that was read is written back as
// text, which must never fail, and that text must read back: exactly for the integer types,
// currency and Bool, to the same text for R8 and DATE (their texts are rounded), and at least as
// a number for R4 (whose largest values round past the type's range, so it may overflow).
//
// The first eight bytes, taken as bit patterns of a double, a float, a currency, a date and the
// integer types, are converted to every type as well, again failing with 6 or 13 only; an
// integer or currency written as text reads back to the same value.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/automation/convert.h"
#include "platform/automation/utf16.h"
#include "platform/automation/error.h"
#include "platform/automation/variant.h"

namespace {

using namespace morvane::automation;

[[noreturn]] void Fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "fuzz_change_type: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

constexpr VarType kTargets[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_UI1};

bool IsConversionError(const Error& e) {
  return e.Number() == errors::kOverflow || e.Number() == errors::kTypeMismatch;
}

// The value written as text; any failure is a fault.
std::string TextOrFail(const Variant& v, std::string_view context) {
  try {
    return ToText(v);
  } catch (const Error& e) {
    Fail(("writing a value of type " + std::string(VarTypeName(v.vt())) + " as text raised " +
          std::to_string(e.Number()))
             .c_str(),
         context);
  }
}

// Reads text back as `target` after it was written from `value`.
void CheckReadBack(const Variant& value, const std::string& text, VarType target) {
  Variant again;
  try {
    again = Converted(Variant(text), target);
  } catch (const Error& e) {
    // R4 and R8 texts carry 7 and 15 digits: the largest values round beyond the range.
    if ((target == VT_R4 || target == VT_R8) && e.Number() == errors::kOverflow) return;
    Fail(("the text of a value does not read back as " + std::string(VarTypeName(target)) +
          ", error " + std::to_string(e.Number()))
             .c_str(),
         text);
  }
  switch (target) {
    case VT_R4:
      return;  // 7 digits do not always name the same float again
    case VT_R8:
    case VT_DATE:
      if (TextOrFail(again, text) != text) Fail("the text of a value changes when read back", text);
      if (target == VT_DATE && std::fabs(again.date().days - value.date().days) > 1.0 / 86400.0)
        Fail("a date moves by more than a second when its text is read back", text);
      return;
    default:
      if (!(again == value)) Fail("the text of a value reads back as another value", text);
  }
}

void FromText(std::string_view input) {
  const Variant text{std::string(input)};
  for (const VarType target : kTargets) {
    Variant value = text;
    try {
      ChangeType(value, target);
    } catch (const Error& e) {
      if (!IsConversionError(e))
        Fail(("text to " + std::string(VarTypeName(target)) + " raised " + std::to_string(e.Number()))
                 .c_str(),
             input);
      continue;
    }
    if (value.vt() != target) Fail("ChangeType left another type", input);
    CheckReadBack(value, TextOrFail(value, input), target);
  }

  // Text to bytes (its UTF-16 storage) and back is the identity for UTF-8 text; bytes that are
  // no UTF-8 come back as U+FFFD, and what comes back is then stable.
  Variant bytes = text;
  ChangeType(bytes, VT_BYTES);
  if (bytes.vt() != VT_BYTES || bytes.bytes().size() % 2 != 0) Fail("text to bytes gives no UTF-16 storage", input);
  const std::string back = ToText(bytes);
  const bool utf8 = FromUtf16(ToUtf16(input)) == std::string(input);
  if (utf8 ? back != input : back != FromUtf16(ToUtf16(back))) Fail("text to bytes and back differs", input);
}

void FromBits(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return;
  double real;
  float single;
  std::int64_t scaled;
  std::int32_t i4;
  std::int16_t i2;
  std::memcpy(&real, data, sizeof real);
  std::memcpy(&single, data, sizeof single);
  std::memcpy(&scaled, data, sizeof scaled);
  std::memcpy(&i4, data, sizeof i4);
  std::memcpy(&i2, data, sizeof i2);
  const std::string bits(reinterpret_cast<const char*>(data), 8);

  for (const Variant& source : {Variant(real), Variant(single), Variant(Currency{scaled}),
                                Variant(Date{real}), Variant(i4), Variant(i2), Variant(data[0]),
                                Variant(data[0] % 2 == 1)}) {
    for (const VarType target : kTargets) {
      try {
        (void)Converted(source, target);
      } catch (const Error& e) {
        if (!IsConversionError(e))
          Fail(("a " + std::string(VarTypeName(source.vt())) + " to " +
                std::string(VarTypeName(target)) + " raised " + std::to_string(e.Number()))
                   .c_str(),
               bits);
      }
    }
    std::string text;
    try {
      text = ToText(source);
    } catch (const Error& e) {
      // Only a date outside the calendar has no text.
      if (source.vt() != VT_DATE || e.Number() != errors::kOverflow)
        Fail(("a " + std::string(VarTypeName(source.vt())) + " to text raised " +
              std::to_string(e.Number()))
                 .c_str(),
             bits);
      continue;
    }
    switch (source.vt()) {
      case VT_I2: case VT_I4: case VT_UI1: case VT_BOOL: case VT_CY:
        CheckReadBack(source, text, source.vt());
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    FromText(std::string_view(reinterpret_cast<const char*>(data), size));
    FromBits(data, size);
  } catch (const Error& e) {
    Fail(("unexpected error " + std::to_string(e.Number())).c_str(),
         std::string_view(reinterpret_cast<const char*>(data), size));
  }
  return 0;
}
