// Pieces of the value conversions shared by convert.cpp, convert_text.cpp and convert_date.cpp:
// reading numbers and dates from text, writing them as text, and the DATE range. Internal to the
// automation layer; the rest of the system uses convert.h. Every function is a pure function of
// its arguments and safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation/variant.h"

namespace morvane::automation::detail {

// A number read from text. A decimal text keeps its significant digits exactly:
// value = 0.d1d2d3... x 10^pointExp, without leading or trailing zeros (digits empty for zero).
// A hexadecimal or octal text ("&H1F", "&O17") holds its signed 32-bit value in radixValue.
struct TextNumber {
  bool negative = false;
  std::string digits;
  std::int64_t pointExp = 0;
  bool isRadix = false;
  std::int32_t radixValue = 0;

  bool IsZero() const { return isRadix ? radixValue == 0 : digits.empty(); }
};

// True for the blanks that may surround a number or a date in text.
constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
// The text without its leading and trailing blanks.
std::string_view TrimBlanks(std::string_view text);

// Reads a whole text as a number (blanks, signs, parentheses, "$", thousands separators,
// exponent, "&H"/"&O"). Raises 13 when the text is not entirely a number, 6 when a hexadecimal or
// octal text does not fit 32 bits.
TextNumber ParseNumberText(std::string_view text);

// The value of n rounded half to even at 10^-scale (scale 0: to an integer; 4: to currency
// units), as a signed value within [min, max]. Raises 6 when it falls outside.
std::int64_t RoundedValue(const TextNumber& n, int scale, std::int64_t min, std::int64_t max);
// The nearest double / float of n. Raises 6 when n is beyond the type's range; a value too small
// for the type becomes 0.
double DoubleOf(const TextNumber& n);
float FloatOf(const TextNumber& n);

// Rounds x half to even to an integer. REQUIRES: x is finite.
double RoundHalfEven(double x);

// x with at most `precision` significant digits in its shortest form, as "%.<precision>G" writes
// it in the C locale ("0.3", "1E+20", "1.5E-07").
std::string FormatReal(double x, int precision);

// The DATE range: valid values lie strictly between these bounds (1 Jan 100 and 31 Dec 9999
// included, with any time of day).
inline constexpr double kDateLowerBound = -657435.0;
inline constexpr double kDateUpperBound = 2958466.0;
constexpr bool InDateRange(double d) { return d > kDateLowerBound && d < kDateUpperBound; }

// Reads a whole text as a date (the forms listed in convert_date.cpp). Raises 13 when it is none of
// them, 6 when it is a valid form outside the DATE range.
Date ParseDateText(std::string_view text);
// "M/D/YYYY", " H:MM:SS AM/PM" added when the time is not midnight; the time alone when the date
// part is 0. Raises 6 for a value outside the DATE range.
std::string FormatDate(Date d);

[[noreturn]] void RaiseTypeMismatch();
[[noreturn]] void RaiseOverflow();

}  // namespace morvane::automation::detail
