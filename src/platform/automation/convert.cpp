// ChangeType and the shorthands built on it: the dispatch on source and target type. Numbers in
// text live in convert_number.cpp, dates in convert_date.cpp.
//
// Pairs this file decides beyond the usual numeric rules: a byte array converts only to text (its
// bytes are the text's storage, UTF-16 code units in little-endian order, as automation strings
// are) and a text or Empty to a byte array (the text's UTF-16 storage); an object converts to
// nothing but itself; an Error value (an omitted argument) to nothing but itself.
#include <cmath>
#include <limits>
#include <optional>

#include "platform/automation/convert.h"
#include "platform/automation/convert_internal.h"
#include "platform/automation/error.h"
#include "platform/automation/utf16.h"
#include "platform/automation/type_info.h"

namespace morvane::automation {

namespace detail {

void RaiseTypeMismatch() { Raise(errors::kTypeMismatch); }
void RaiseOverflow() { Raise(errors::kOverflow); }

}  // namespace detail

namespace {

using detail::RaiseOverflow;
using detail::RaiseTypeMismatch;

constexpr std::int64_t kI2Min = std::numeric_limits<std::int16_t>::min();
constexpr std::int64_t kI2Max = std::numeric_limits<std::int16_t>::max();
constexpr std::int64_t kI4Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kI4Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUI1Max = 255;
constexpr std::int64_t kI8Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kI8Max = std::numeric_limits<std::int64_t>::max();
// 2^63 as a double: the first value past the 64-bit range.
constexpr double kTwo63 = 9223372036854775808.0;

// A numeric value of a Variant, kept exact where the source is exact.
struct Numeric {
  enum Kind { Integer, Money, Real } kind = Integer;
  std::int64_t integer = 0;  // Integer: the value; Money: currency scaled by 10,000
  double real = 0.0;         // Real
};

bool IsNumericType(VarType t) {
  switch (t) {
    case VT_EMPTY: case VT_I2: case VT_I4: case VT_UI1: case VT_BOOL:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
      return true;
    default:
      return false;
  }
}

// REQUIRES: IsNumericType(v.vt()). Empty is 0; Bool is -1 or 0.
Numeric NumericOf(const Variant& v) {
  switch (v.vt()) {
    case VT_I2: return {Numeric::Integer, v.i2(), 0.0};
    case VT_I4: return {Numeric::Integer, v.i4(), 0.0};
    case VT_UI1: return {Numeric::Integer, v.ui1(), 0.0};
    case VT_BOOL: return {Numeric::Integer, v.boolean() ? -1 : 0, 0.0};
    case VT_CY: return {Numeric::Money, v.cy().scaled, 0.0};
    case VT_R4: return {Numeric::Real, 0, v.r4()};
    case VT_R8: return {Numeric::Real, 0, v.r8()};
    case VT_DATE: return {Numeric::Real, 0, v.date().days};
    default: return {};
  }
}

// Currency scaled by 10,000 rounded half to even to an integer.
std::int64_t RoundCurrency(std::int64_t scaled) {
  std::int64_t q = scaled / 10000;
  const std::int64_t r = scaled % 10000;
  if (r > 5000 || (r == 5000 && (q & 1))) ++q;
  else if (r < -5000 || (r == -5000 && (q & 1))) --q;
  return q;
}

// The value as an integer within [min, max], fractions rounded half to even. Raises 6.
std::int64_t IntegerOf(const Numeric& n, std::int64_t min, std::int64_t max) {
  std::int64_t value = 0;
  switch (n.kind) {
    case Numeric::Integer: value = n.integer; break;
    case Numeric::Money: value = RoundCurrency(n.integer); break;
    case Numeric::Real: {
      if (!std::isfinite(n.real)) RaiseOverflow();
      const double r = detail::RoundHalfEven(n.real);
      if (r < static_cast<double>(min) || r > static_cast<double>(max)) RaiseOverflow();
      value = static_cast<std::int64_t>(r);
      break;
    }
  }
  if (value < min || value > max) RaiseOverflow();
  return value;
}

double DoubleOfCurrency(Currency c) {
  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  // Below 2^53 the division is the correctly rounded value of the decimal; beyond it, read the
  // decimal text so that the result is still the nearest double.
  if (c.scaled > -kExact && c.scaled < kExact) return static_cast<double>(c.scaled) / 10000.0;
  return detail::DoubleOf(detail::ParseNumberText(FormatCurrency(c)));
}

double RealOf(const Numeric& n) {
  switch (n.kind) {
    case Numeric::Integer: return static_cast<double>(n.integer);
    case Numeric::Money: return DoubleOfCurrency(Currency{n.integer});
    case Numeric::Real: break;
  }
  return n.real;
}

float FloatOf(const Numeric& n) {
  if (n.kind == Numeric::Money) return detail::FloatOf(detail::ParseNumberText(FormatCurrency(Currency{n.integer})));
  const double d = RealOf(n);
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  const float f = static_cast<float>(d);
  if (std::isinf(f)) RaiseOverflow();
  return f;
}

Currency CurrencyOf(const Numeric& n) {
  switch (n.kind) {
    case Numeric::Integer: return Currency{n.integer * 10000};  // integers here are 32-bit
    case Numeric::Money: return Currency{n.integer};
    case Numeric::Real: break;
  }
  if (!std::isfinite(n.real)) RaiseOverflow();
  const double r = detail::RoundHalfEven(n.real * 10000.0);
  if (r < -kTwo63 || r >= kTwo63) RaiseOverflow();
  return Currency{static_cast<std::int64_t>(r)};
}

Date DateOf(const Numeric& n) {
  const double d = RealOf(n);
  if (!detail::InDateRange(d)) RaiseOverflow();
  return Date{d};
}

bool BoolOf(const Numeric& n) { return n.kind == Numeric::Real ? n.real != 0.0 : n.integer != 0; }

Variant FromNumeric(const Numeric& n, VarType target) {
  switch (target) {
    case VT_I2: return Variant(static_cast<std::int16_t>(IntegerOf(n, kI2Min, kI2Max)));
    case VT_I4: return Variant(static_cast<std::int32_t>(IntegerOf(n, kI4Min, kI4Max)));
    case VT_UI1: return Variant(static_cast<std::uint8_t>(IntegerOf(n, 0, kUI1Max)));
    case VT_R4: return Variant(FloatOf(n));
    case VT_R8: return Variant(RealOf(n));
    case VT_CY: return Variant(CurrencyOf(n));
    case VT_DATE: return Variant(DateOf(n));
    case VT_BOOL: return Variant(BoolOf(n));
    default: RaiseTypeMismatch();
  }
}

bool IsWord(std::string_view text, std::string_view word) { return EqualsIgnoreCase(detail::TrimBlanks(text), word); }

Variant FromText(std::string_view text, VarType target) {
  using detail::ParseNumberText;
  switch (target) {
    case VT_I2: return Variant(static_cast<std::int16_t>(detail::RoundedValue(ParseNumberText(text), 0, kI2Min, kI2Max)));
    case VT_I4: return Variant(static_cast<std::int32_t>(detail::RoundedValue(ParseNumberText(text), 0, kI4Min, kI4Max)));
    case VT_UI1: return Variant(static_cast<std::uint8_t>(detail::RoundedValue(ParseNumberText(text), 0, 0, kUI1Max)));
    case VT_CY: return Variant(Currency{detail::RoundedValue(ParseNumberText(text), 4, kI8Min, kI8Max)});
    case VT_R4: return Variant(detail::FloatOf(ParseNumberText(text)));
    case VT_R8: return Variant(detail::DoubleOf(ParseNumberText(text)));
    case VT_DATE: return Variant(detail::ParseDateText(text));
    case VT_BOOL:
      if (IsWord(text, "True")) return Variant(true);
      if (IsWord(text, "False")) return Variant(false);
      return Variant(!ParseNumberText(text).IsZero());
    default: RaiseTypeMismatch();
  }
}

// A byte array read as a text's storage: UTF-16 code units, low byte first. An odd number of
// bytes or an unpaired surrogate is no text (type mismatch).
std::string TextOfStorage(const Bytes& bytes) {
  if (bytes.size() % 2 != 0) RaiseTypeMismatch();
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  std::optional<std::string> text = FromUtf16Strict(units);
  if (!text) RaiseTypeMismatch();
  return std::move(*text);
}

// A text's storage as bytes: its UTF-16 code units, low byte first.
Bytes StorageOf(std::string_view text) {
  const std::u16string units = ToUtf16(text);
  Bytes bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

std::string TextOf(const Variant& v) {
  switch (v.vt()) {
    case VT_EMPTY: return {};
    case VT_I2: return std::to_string(v.i2());
    case VT_I4: return std::to_string(v.i4());
    case VT_UI1: return std::to_string(v.ui1());
    case VT_BOOL: return v.boolean() ? "-1" : "0";
    case VT_R4: return detail::FormatReal(v.r4(), 7);
    case VT_R8: return detail::FormatReal(v.r8(), 15);
    case VT_CY: return FormatCurrency(v.cy());
    case VT_DATE: return detail::FormatDate(v.date());
    case VT_BSTR: return v.text();
    case VT_BYTES: return TextOfStorage(v.bytes());
    default: RaiseTypeMismatch();
  }
}

Variant ConvertTo(const Variant& v, VarType target) {
  const VarType from = v.vt();
  switch (target) {
    case VT_BSTR: return Variant(TextOf(v));
    case VT_BYTES:
      if (from == VT_BSTR) return Variant(StorageOf(v.text()));
      if (from == VT_EMPTY) return Variant(Bytes{});
      RaiseTypeMismatch();
    case VT_I2: case VT_I4: case VT_UI1: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BOOL:
      if (from == VT_BSTR) return FromText(v.text(), target);
      // True as a byte is 255: Bool's -1 taken as its bit pattern.
      if (from == VT_BOOL && target == VT_UI1) return Variant(std::uint8_t{v.boolean() ? std::uint8_t{255} : std::uint8_t{0}});
      if (IsNumericType(from)) return FromNumeric(NumericOf(v), target);
      RaiseTypeMismatch();
    default:
      // Empty, Null, objects and Error values are reached only from a value of the same type.
      RaiseTypeMismatch();
  }
}

int Sign(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }
int Sign(std::int64_t a, std::int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

int CompareNumeric(const Numeric& a, const Numeric& b) {
  if (a.kind == Numeric::Integer && b.kind == Numeric::Integer) return Sign(a.integer, b.integer);
  if (a.kind != Numeric::Real && b.kind != Numeric::Real)  // currency with currency or integer
    return Sign(CurrencyOf(a).scaled, CurrencyOf(b).scaled);
  return Sign(RealOf(a), RealOf(b));
}

bool IsTextLike(VarType t) { return t == VT_BSTR || t == VT_BYTES; }

}  // namespace

void ChangeType(Variant& v, VarType target) {
  if (target == VT_VARIANT || v.vt() == target) return;
  Variant converted = ConvertTo(v, target);
  v = std::move(converted);
}

Variant Converted(const Variant& v, VarType target) {
  if (target == VT_VARIANT || v.vt() == target) return v;
  return ConvertTo(v, target);
}

std::string ToText(const Variant& v) { return v.IsText() ? v.text() : Converted(v, VT_BSTR).text(); }
std::int32_t ToLong(const Variant& v) { return Converted(v, VT_I4).i4(); }
std::int16_t ToInteger(const Variant& v) { return Converted(v, VT_I2).i2(); }
bool ToBool(const Variant& v) { return Converted(v, VT_BOOL).boolean(); }
double ToDouble(const Variant& v) { return Converted(v, VT_R8).r8(); }

int CompareValues(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) Raise(errors::kInvalidUseOfNull);
  const VarType ta = a.vt(), tb = b.vt();
  if (ta == VT_EMPTY && tb == VT_EMPTY) return 0;
  const bool textA = IsTextLike(ta) || ta == VT_EMPTY, textB = IsTextLike(tb) || tb == VT_EMPTY;
  if (textA && textB) {
    const int c = TextOf(a).compare(TextOf(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (IsNumericType(ta) && IsNumericType(tb)) return CompareNumeric(NumericOf(a), NumericOf(b));
  // A number with a text: the text takes the number's type where that is a Bool or a date (so
  // that "True" and "10/19/1962" compare), and is read as a number otherwise.
  const bool aIsText = ta == VT_BSTR;
  const Variant& text = aIsText ? a : b;
  const Variant& other = aIsText ? b : a;
  if (text.vt() != VT_BSTR || !IsNumericType(other.vt())) RaiseTypeMismatch();
  const VarType as = other.vt() == VT_BOOL || other.vt() == VT_DATE ? other.vt() : VT_R8;
  const int c = CompareNumeric(NumericOf(FromText(text.text(), as)), NumericOf(other));
  return aIsText ? c : -c;
}

}  // namespace morvane::automation
