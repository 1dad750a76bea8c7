// Numbers in text: reading a whole text as a number, rounding it to a width, and writing reals
// and currency as text. Texts are read by index within their bounds; the only buffers handed to
// the standard parsers are strings built here.
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "platform/automation/convert_internal.h"
#include "platform/automation/error.h"

namespace morvane::automation::detail {

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of c as a digit of `base` (8, 10 or 16), or -1.
int DigitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

// Exponents beyond this magnitude are already far outside every type; saturating keeps the
// arithmetic on the exponent from overflowing.
constexpr std::int64_t kExponentCap = 1'000'000'000;

// Reads "&H..." or "&O..." from text[i] (which is '&') to the end of the text.
TextNumber ParseRadix(std::string_view text, std::size_t i) {
  const std::size_t n = text.size();
  if (i + 1 >= n) RaiseTypeMismatch();
  const char kind = text[i + 1];
  const int base = (kind == 'H' || kind == 'h') ? 16 : (kind == 'O' || kind == 'o') ? 8 : 0;
  if (base == 0) RaiseTypeMismatch();
  i += 2;
  std::uint64_t value = 0;
  bool tooLarge = false;
  std::size_t count = 0;
  for (; i < n; ++i, ++count) {
    const int d = DigitValue(text[i], base);
    if (d < 0) break;
    if (!tooLarge) {
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
      tooLarge = value > 0xFFFFFFFFull;
    }
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (count == 0 || i != n) RaiseTypeMismatch();
  if (tooLarge) RaiseOverflow();
  TextNumber result;
  result.isRadix = true;
  result.radixValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  result.negative = result.radixValue < 0;
  return result;
}

// "0.<digits>e<pointExp>": a text the standard parsers read exactly.
std::string ScientificText(const TextNumber& n) {
  std::string s = n.negative ? "-0." : "0.";
  s += n.digits;
  s += 'e';
  s += std::to_string(n.pointExp);
  return s;
}

template <class Real>
Real RealOf(const TextNumber& n) {
  if (n.isRadix) return static_cast<Real>(n.radixValue);
  if (n.digits.empty()) return Real(0);
  const std::string s = ScientificText(n);
  Real value{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // The digits are normalised (0.1 <= mantissa < 1): a positive exponent means too large.
    if (n.pointExp > 0) RaiseOverflow();
    return Real(0);
  }
  if (ec != std::errc() || end != s.data() + s.size() || std::isinf(value)) RaiseOverflow();
  return value;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// Grammar (blanks may separate the signs, parentheses and "$" from the digits):
//   blanks [prefix] mantissa [exponent] blanks [suffix] blanks
//   prefix:   any of one sign ("+"/"-"), one "(", one "$" (no sign inside parentheses)
//   mantissa: digits with "," between digits, then optionally "." digits; at least one digit
//   exponent: "E" or "e", an optional sign, digits
//   suffix:   a trailing sign when there was none, or the ")" that closes "("
// or blanks "&H" hexdigits blanks, blanks "&O" octdigits blanks.
TextNumber ParseNumberText(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < n && IsBlank(text[i])) ++i;
  };
  skipBlanks();
  if (i < n && text[i] == '&') return ParseRadix(text, i);

  bool negative = false, sign = false, paren = false, currency = false;
  while (i < n) {
    const char c = text[i];
    if ((c == '+' || c == '-') && !sign && !paren) {
      sign = true;
      negative = c == '-';
    } else if (c == '(' && !paren && !sign) {
      paren = true;
    } else if (c == '$' && !currency) {
      currency = true;
    } else {
      break;
    }
    ++i;
    skipBlanks();
  }

  // Digits of the mantissa as written, with the number of them before the point.
  std::string raw;
  std::size_t intCount = 0;
  while (i < n) {
    if (IsDigit(text[i])) {
      raw.push_back(text[i]);
      ++intCount;
      ++i;
    } else if (text[i] == ',' && intCount > 0 && i + 1 < n && IsDigit(text[i + 1])) {
      ++i;
    } else {
      break;
    }
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) raw.push_back(text[i++]);
  }
  if (raw.empty()) RaiseTypeMismatch();

  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    std::size_t count = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++count)
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
    if (count == 0) RaiseTypeMismatch();
    if (expNegative) exponent = -exponent;
  }

  skipBlanks();
  if (!sign && !paren && i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
    skipBlanks();
  }
  if (paren) {
    if (i >= n || text[i] != ')') RaiseTypeMismatch();
    negative = true;
    ++i;
    skipBlanks();
  }
  if (i != n) RaiseTypeMismatch();

  TextNumber result;
  const std::size_t first = raw.find_first_not_of('0');
  if (first == std::string::npos) return result;  // zero, without a sign
  const std::size_t last = raw.find_last_not_of('0');
  result.negative = negative;
  result.digits = raw.substr(first, last - first + 1);
  result.pointExp = static_cast<std::int64_t>(intCount) - static_cast<std::int64_t>(first) + exponent;
  return result;
}

std::int64_t RoundedValue(const TextNumber& n, int scale, std::int64_t min, std::int64_t max) {
  if (n.isRadix) {
    std::int64_t v = n.radixValue;
    for (int k = 0; k < scale; ++k) v *= 10;  // scale <= 4: stays far inside 64 bits
    if (v < min || v > max) RaiseOverflow();
    return v;
  }
  if (n.digits.empty()) return 0;
  // Digits before the rounding point; 20 or more would exceed every 64-bit value.
  const std::int64_t intLen = n.pointExp + scale;
  if (intLen > 19) RaiseOverflow();
  std::uint64_t magnitude = 0;
  const std::size_t count = n.digits.size();
  for (std::int64_t k = 0; k < intLen; ++k) {
    const std::size_t at = static_cast<std::size_t>(k);
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(at < count ? n.digits[at] - '0' : 0);
  }
  if (intLen >= 0 && static_cast<std::size_t>(intLen) < count) {
    // The first dropped digit decides; any digit after it is non-zero (no trailing zeros kept).
    const std::size_t at = static_cast<std::size_t>(intLen);
    const char d = n.digits[at];
    const bool moreAfter = at + 1 < count;
    if (d > '5' || (d == '5' && (moreAfter || (magnitude & 1u)))) ++magnitude;
  }
  // magnitude < 10^19 + 1 fits in 64 bits unsigned; compare against the bounds without overflow.
  if (n.negative) {
    const std::uint64_t limit = static_cast<std::uint64_t>(-(min + 1)) + 1u;
    if (magnitude > limit) RaiseOverflow();
    if (magnitude == 0) return 0;
    return -static_cast<std::int64_t>(magnitude - 1) - 1;
  }
  if (magnitude > static_cast<std::uint64_t>(max)) RaiseOverflow();
  return static_cast<std::int64_t>(magnitude);
}

double DoubleOf(const TextNumber& n) { return RealOf<double>(n); }
float FloatOf(const TextNumber& n) { return RealOf<float>(n); }

double RoundHalfEven(double x) {
  double r = std::floor(x);
  const double diff = x - r;  // exact for finite doubles
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

std::string FormatReal(double x, int precision) {
  if (x == 0.0) return "0";  // also -0
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, precision);
  if (ec != std::errc()) RaiseOverflow();  // cannot happen with 64 characters
  std::string s(buf, end);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

}  // namespace morvane::automation::detail

namespace morvane::automation {

std::string FormatCurrency(Currency c) {
  const bool negative = c.scaled < 0;
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-(c.scaled + 1)) + 1u : static_cast<std::uint64_t>(c.scaled);
  std::string s = negative ? "-" : "";
  s += std::to_string(magnitude / 10000u);
  std::uint64_t frac = magnitude % 10000u;
  if (frac != 0) {
    char digits[5] = {'0', '0', '0', '0', '\0'};
    for (int k = 3; k >= 0; --k, frac /= 10) digits[k] = static_cast<char>('0' + frac % 10);
    std::size_t len = 4;
    while (digits[len - 1] == '0') --len;
    s += '.';
    s.append(digits, len);
  }
  return s;
}

}  // namespace morvane::automation
