// The conversion rules of ChangeType, one table per theme; each failing row prints its input,
// target, expected and actual outcome.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <span>

#include "platform/automation/convert.h"
#include "platform/automation/dispatch_table.h"
#include "platform/automation/error.h"

namespace morvane::automation {
namespace {

Variant I2(int v) { return Variant(static_cast<std::int16_t>(v)); }
Variant I4(std::int32_t v) { return Variant(v); }
Variant UI1(int v) { return Variant(static_cast<std::uint8_t>(v)); }
Variant R4(float v) { return Variant(v); }
Variant R8(double v) { return Variant(v); }
Variant Cy(std::int64_t scaled) { return Variant(Currency{scaled}); }
Variant Dt(double days) { return Variant(Date{days}); }
Variant Dt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return Variant(MakeDate({y, mo, d, h, mi, s})); }
Variant Text(std::string_view s) { return Variant(s); }
Variant Blob(std::string_view s) { return Variant(Bytes(s.begin(), s.end())); }
// The storage of a text: its UTF-16 code units, low byte first.
Variant Utf16Blob(std::u16string_view s) {
  Bytes bytes;
  for (char16_t unit : s) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return Variant(std::move(bytes));
}
Variant Bool(bool b) { return Variant(b); }

// The value as the test shows it: type name and content, without going through the code under test.
std::string Show(const Variant& v) {
  std::string s(VarTypeName(v.vt()));
  char buf[64];
  switch (v.vt()) {
    case VT_I2: return s + " " + std::to_string(v.i2());
    case VT_I4: return s + " " + std::to_string(v.i4());
    case VT_UI1: return s + " " + std::to_string(v.ui1());
    case VT_BOOL: return s + (v.boolean() ? " True" : " False");
    case VT_CY: return s + " " + std::to_string(v.cy().scaled) + "/10000";
    case VT_R4: std::snprintf(buf, sizeof buf, " %.9g", static_cast<double>(v.r4())); return s + buf;
    case VT_R8: std::snprintf(buf, sizeof buf, " %.17g", v.r8()); return s + buf;
    case VT_DATE: std::snprintf(buf, sizeof buf, " %.17g", v.date().days); return s + buf;
    case VT_BSTR: return s + " \"" + v.text() + "\"";
    case VT_BYTES: {
      for (std::uint8_t b : v.bytes()) {
        std::snprintf(buf, sizeof buf, " %02X", b);
        s += buf;
      }
      return s;
    }
    default: return s;
  }
}

struct Case {
  Variant in;
  VarType to;
  Variant expected;     // when error is 0
  std::int32_t error = 0;  // 13 type mismatch, 6 overflow
};

Case Ok(Variant in, VarType to, Variant expected) { return {std::move(in), to, std::move(expected), 0}; }
Case Mismatch(Variant in, VarType to) { return {std::move(in), to, Variant(), errors::kTypeMismatch}; }
Case Overflow(Variant in, VarType to) { return {std::move(in), to, Variant(), errors::kOverflow}; }

std::string Outcome(const Variant& v, std::int32_t error) {
  return error ? "error " + std::to_string(error) : Show(v);
}

void Check(std::span<const Case> cases) {
  for (const Case& c : cases) {
    Variant v = c.in;
    std::int32_t error = 0;
    try {
      ChangeType(v, c.to);
    } catch (const Error& e) {
      error = e.Number();
      EXPECT_TRUE(v == c.in || Show(v) == Show(c.in))  // NaN is not equal to itself
          << "a failed conversion changed its input " << Show(c.in) << " to " << Show(v);
    }
    const bool same = error == c.error && (error != 0 || v == c.expected);
    EXPECT_TRUE(same) << Show(c.in) << " -> " << VarTypeName(c.to) << ": expected "
                      << Outcome(c.expected, c.error) << ", got " << Outcome(v, error);
    if (error == 0 && c.error == 0) {
      // Converted gives the same result without touching its argument.
      EXPECT_EQ(Converted(c.in, c.to), v) << Show(c.in) << " -> " << VarTypeName(c.to);
    }
  }
}

TEST(ChangeTypeTest, TextToNumberBlanksSignsAndSeparators) {
  const Case cases[] = {
      Ok(" 42 ", VT_I4, I4(42)),
      Ok("\t42\r\n", VT_I2, I2(42)),
      Ok("+5", VT_I4, I4(5)),
      Ok("-5", VT_I4, I4(-5)),
      Ok("5-", VT_I4, I4(-5)),
      Ok("5 -", VT_R8, R8(-5)),
      Ok("(5)", VT_I4, I4(-5)),
      Ok("( 5.5 )", VT_R8, R8(-5.5)),
      Ok("- 5", VT_I4, I4(-5)),
      Mismatch("(5", VT_I4),
      Mismatch("5)", VT_I4),
      Mismatch("(-5)", VT_I4),
      Mismatch("(5)-", VT_I4),
      Mismatch("--5", VT_I4),
      Mismatch("+5-", VT_I4),
      Mismatch("5+-", VT_I4),
      Ok("1,234", VT_I4, I4(1234)),
      Ok("1,234,567.25", VT_R8, R8(1234567.25)),
      Ok("12,34", VT_I2, I2(1234)),
      Mismatch(",5", VT_I4),
      Mismatch("5,", VT_I4),
      Mismatch("1,,2", VT_I4),
      Mismatch("1.2,3", VT_R8),
      Ok("$1,234.50", VT_CY, Cy(12345000)),
      Ok("$5", VT_I4, I4(5)),
      Ok("-$5", VT_R8, R8(-5)),
      Ok("($5)", VT_CY, Cy(-50000)),
      Mismatch("$$5", VT_I4),
      Mismatch("5$", VT_I4),
      Ok("0.1", VT_R8, R8(0.1)),
      Ok("0.1", VT_R4, R4(0.1f)),
      Ok(".5", VT_R8, R8(0.5)),
      Ok("5.", VT_R8, R8(5)),
      Ok("-0", VT_R8, R8(0.0)),
      Ok("007", VT_UI1, UI1(7)),
      Mismatch(".", VT_R8),
      Mismatch("", VT_I4),
      Mismatch("   ", VT_I4),
      Mismatch("abc", VT_I4),
      Mismatch("12abc", VT_I4),
      Mismatch("1.2.3", VT_R8),
      Mismatch("1 2", VT_I4),
      Mismatch("-", VT_I4),
      Mismatch("()", VT_I4),
      Mismatch("$", VT_CY),
      Mismatch(std::string_view("1\0", 2), VT_I4),
      Ok(std::string(10000, '0') + "1", VT_I4, I4(1)),
      Ok("0." + std::string(10000, '0') + "1", VT_R8, R8(0.0)),
  };
  Check(cases);
}

TEST(ChangeTypeTest, TextToNumberExponentsAndRadix) {
  const Case cases[] = {
      Ok("1.5E3", VT_R8, R8(1500)),
      Ok("1.5e3", VT_I4, I4(1500)),
      Ok("1.5E+3", VT_I2, I2(1500)),
      Ok("2.5E-1", VT_R8, R8(0.25)),
      Ok("15E-1", VT_I4, I4(2)),
      Ok("1E-999999999999", VT_R8, R8(0.0)),
      Ok("0E999999999", VT_I4, I4(0)),
      Mismatch("1E", VT_R8),
      Mismatch("1E+", VT_R8),
      Mismatch("E5", VT_R8),
      Mismatch("1E5.5", VT_R8),
      Overflow("1E400", VT_R8),
      Overflow("-1E400", VT_R8),
      Overflow("1E999999999999", VT_I4),
      Ok("1E-400", VT_R8, R8(0.0)),
      Ok("&H1F", VT_I4, I4(31)),
      Ok("&h1f", VT_I2, I2(31)),
      Ok("&O17", VT_I4, I4(15)),
      Ok(" &HFF ", VT_UI1, UI1(255)),
      Ok("&HFFFFFFFF", VT_I4, I4(-1)),
      Ok("&HFFFFFFFF", VT_R8, R8(-1)),
      Ok("&H80000000", VT_I4, I4(std::numeric_limits<std::int32_t>::min())),
      Ok("&O37777777777", VT_I4, I4(-1)),
      Ok("&H7FFF", VT_I2, I2(32767)),
      Overflow("&HFFFF", VT_I2),
      Overflow("&H100000000", VT_I4),
      Overflow("&O40000000000", VT_I4),
      Ok("&H0000000000000001", VT_I4, I4(1)),
      Ok("&HA", VT_CY, Cy(100000)),
      Ok("&H0", VT_BOOL, Bool(false)),
      Mismatch("&H", VT_I4),
      Mismatch("&HG", VT_I4),
      Mismatch("&O8", VT_I4),
      Mismatch("&X1", VT_I4),
      Mismatch("&", VT_I4),
      Mismatch("-&H1", VT_I4),
      Mismatch("&H1.5", VT_R8),
      Mismatch("&HFFFFFFFFFFZ", VT_I4),
  };
  Check(cases);
}

TEST(ChangeTypeTest, TextToNumberRoundsHalfToEvenAndOverflowsPerWidth) {
  const Case cases[] = {
      Ok("2.5", VT_I4, I4(2)),
      Ok("3.5", VT_I4, I4(4)),
      Ok("-2.5", VT_I4, I4(-2)),
      Ok("-3.5", VT_I2, I2(-4)),
      Ok("0.5", VT_I4, I4(0)),
      Ok("1.5", VT_UI1, UI1(2)),
      Ok("2.5000001", VT_I4, I4(3)),
      Ok("2.4999999", VT_I4, I4(2)),
      Ok("-0.4", VT_UI1, UI1(0)),
      Ok("0.00005", VT_CY, Cy(0)),
      Ok("0.00015", VT_CY, Cy(2)),
      Ok("1.23456", VT_CY, Cy(12346)),
      Ok("-1.23455", VT_CY, Cy(-12346)),
      Ok("32767", VT_I2, I2(32767)),
      Ok("-32768", VT_I2, I2(-32768)),
      Overflow("32768", VT_I2),
      Overflow("40000", VT_I2),
      Overflow("-32769", VT_I2),
      Overflow("32767.5", VT_I2),
      Ok("32766.5", VT_I2, I2(32766)),
      Ok("-32768.5", VT_I2, I2(-32768)),
      Ok("2147483647", VT_I4, I4(2147483647)),
      Ok("-2147483648", VT_I4, I4(std::numeric_limits<std::int32_t>::min())),
      Overflow("2147483648", VT_I4),
      Overflow("-2147483649", VT_I4),
      Overflow("99999999999999999999999", VT_I4),
      Ok("255", VT_UI1, UI1(255)),
      Overflow("256", VT_UI1),
      Overflow("-1", VT_UI1),
      Overflow("255.5", VT_UI1),
      Ok("254.5", VT_UI1, UI1(254)),
      Ok("922337203685477.5807", VT_CY, Cy(std::numeric_limits<std::int64_t>::max())),
      Ok("-922337203685477.5808", VT_CY, Cy(std::numeric_limits<std::int64_t>::min())),
      Overflow("922337203685477.5808", VT_CY),
      Overflow("-922337203685477.5809", VT_CY),
      Overflow("1E19", VT_CY),
      Ok("3.4E38", VT_R4, R4(3.4e38f)),
      Overflow("1E39", VT_R4),
      Ok("1E308", VT_R8, R8(1e308)),
  };
  Check(cases);
}

TEST(ChangeTypeTest, ValuesToText) {
  const Case cases[] = {
      Ok(Variant(), VT_BSTR, Text("")),
      Mismatch(Variant::Null(), VT_BSTR),
      Ok(Bool(true), VT_BSTR, Text("-1")),
      Ok(Bool(false), VT_BSTR, Text("0")),
      Ok(I2(-5), VT_BSTR, Text("-5")),
      Ok(I4(std::numeric_limits<std::int32_t>::min()), VT_BSTR, Text("-2147483648")),
      Ok(I4(1234567), VT_BSTR, Text("1234567")),
      Ok(UI1(255), VT_BSTR, Text("255")),
      Ok(R8(0.1 + 0.2), VT_BSTR, Text("0.3")),
      Ok(R8(1e20), VT_BSTR, Text("1E+20")),
      Ok(R8(1.5e-7), VT_BSTR, Text("1.5E-07")),
      Ok(R8(1e15), VT_BSTR, Text("1E+15")),
      Ok(R8(123456789012345.0), VT_BSTR, Text("123456789012345")),
      Ok(R8(0.0001), VT_BSTR, Text("0.0001")),
      Ok(R8(1.0 / 3), VT_BSTR, Text("0.333333333333333")),
      Ok(R8(-2.5), VT_BSTR, Text("-2.5")),
      Ok(R8(100), VT_BSTR, Text("100")),
      Ok(R8(-0.0), VT_BSTR, Text("0")),
      Ok(R8(1.7976931348623157e308), VT_BSTR, Text("1.79769313486232E+308")),
      Ok(R4(0.1f), VT_BSTR, Text("0.1")),
      Ok(R4(1.0f / 3), VT_BSTR, Text("0.3333333")),
      Ok(R4(16777216.0f), VT_BSTR, Text("1.677722E+07")),
      Ok(Cy(15000), VT_BSTR, Text("1.5")),
      Ok(Cy(120000), VT_BSTR, Text("12")),
      Ok(Cy(-1), VT_BSTR, Text("-0.0001")),
      Ok(Cy(12345678), VT_BSTR, Text("1234.5678")),
      Ok(Cy(std::numeric_limits<std::int64_t>::min()), VT_BSTR, Text("-922337203685477.5808")),
      Ok(Dt(1962, 10, 19), VT_BSTR, Text("10/19/1962")),
      Ok(Dt(1962, 10, 19, 16, 35, 47), VT_BSTR, Text("10/19/1962 4:35:47 PM")),
      Ok(Dt(2001, 1, 2, 0, 5, 0), VT_BSTR, Text("1/2/2001 12:05:00 AM")),
      Ok(Dt(2001, 1, 2, 12, 0, 9), VT_BSTR, Text("1/2/2001 12:00:09 PM")),
      Ok(Dt(0.0), VT_BSTR, Text("12:00:00 AM")),
      Ok(Dt(0.5), VT_BSTR, Text("12:00:00 PM")),
      Ok(Dt(-0.25), VT_BSTR, Text("6:00:00 AM")),
      Ok(Dt(1.0), VT_BSTR, Text("12/31/1899")),
      Ok(Dt(-1.25), VT_BSTR, Text("12/29/1899 6:00:00 AM")),
      Ok(Dt(100, 1, 1), VT_BSTR, Text("1/1/100")),
      Ok(Dt(2958465.99999), VT_BSTR, Text("12/31/9999 11:59:59 PM")),
      Ok(Dt(1.99999999), VT_BSTR, Text("1/1/1900")),  // rounded to the next midnight
      Overflow(Dt(1e10), VT_BSTR),
      Overflow(Dt(std::nan("")), VT_BSTR),
      Ok(Utf16Blob(u"h\u00E9llo"), VT_BSTR, Text("h\xC3\xA9llo")),
      Ok(Blob(""), VT_BSTR, Text("")),
  };
  Check(cases);
}

TEST(ChangeTypeTest, TextToBoolAndDate) {
  const Case cases[] = {
      Ok("True", VT_BOOL, Bool(true)),
      Ok("tRUE", VT_BOOL, Bool(true)),
      Ok("False", VT_BOOL, Bool(false)),
      Ok(" false ", VT_BOOL, Bool(false)),
      Ok("0", VT_BOOL, Bool(false)),
      Ok("-0.0", VT_BOOL, Bool(false)),
      Ok("2", VT_BOOL, Bool(true)),
      Ok("0.001", VT_BOOL, Bool(true)),
      Ok("-1", VT_BOOL, Bool(true)),
      Mismatch("yes", VT_BOOL),
      Mismatch("Truely", VT_BOOL),
      Mismatch("", VT_BOOL),
      Ok("10/19/1962", VT_DATE, Dt(1962, 10, 19)),
      Ok("10/19/62", VT_DATE, Dt(1962, 10, 19)),
      Ok("1/1/29", VT_DATE, Dt(2029, 1, 1)),
      Ok("1/1/30", VT_DATE, Dt(1930, 1, 1)),
      Ok("1962-10-19", VT_DATE, Dt(1962, 10, 19)),
      Ok("October 19, 1962", VT_DATE, Dt(1962, 10, 19)),
      Ok("oct 19 1962", VT_DATE, Dt(1962, 10, 19)),
      Ok("19 Oct 1962", VT_DATE, Dt(1962, 10, 19)),
      Ok("19 October, 1962", VT_DATE, Dt(1962, 10, 19)),
      Ok("19-Oct-1962", VT_DATE, Dt(1962, 10, 19)),
      Ok(" 10/19/1962 4:35 PM ", VT_DATE, Dt(1962, 10, 19, 16, 35, 0)),
      Ok("10/19/1962 16:35:47", VT_DATE, Dt(1962, 10, 19, 16, 35, 47)),
      Ok("October 19, 1962 4:35:47pm", VT_DATE, Dt(1962, 10, 19, 16, 35, 47)),
      Ok("1962-10-19T16:35:47", VT_DATE, Dt(1962, 10, 19, 16, 35, 47)),
      Ok("1962-10-19 00:00", VT_DATE, Dt(1962, 10, 19)),
      Ok("1899-12-29 06:00", VT_DATE, Dt(-1.25)),
      Ok("4:35:47 PM", VT_DATE, Dt((16 * 3600 + 35 * 60 + 47) / 86400.0)),
      Ok("12:00 AM", VT_DATE, Dt(0.0)),
      Ok("12:30 PM", VT_DATE, Dt(0.5 + 30 / 1440.0)),
      Ok("0:00", VT_DATE, Dt(0.0)),
      Ok("2/29/2000", VT_DATE, Dt(2000, 2, 29)),
      Ok("12/31/9999 23:59:59", VT_DATE, Dt(9999, 12, 31, 23, 59, 59)),
      Ok("1/1/100", VT_DATE, Dt(-657434.0)),
      Mismatch("2/29/1900", VT_DATE),
      Mismatch("2/30/2000", VT_DATE),
      Mismatch("13/1/2000", VT_DATE),
      Mismatch("0/1/2000", VT_DATE),
      Mismatch("10/19", VT_DATE),
      Mismatch("10/19/1962x", VT_DATE),
      Mismatch("10/19/1962 25:00", VT_DATE),
      Mismatch("10/19/1962 4:60", VT_DATE),
      Mismatch("13:00 PM", VT_DATE),
      Mismatch("0:30 AM", VT_DATE),
      Mismatch("24:00", VT_DATE),
      Mismatch("10/19/1962T16:35", VT_DATE),
      Mismatch("1962-10-19T", VT_DATE),
      Mismatch("Foo 19, 1962", VT_DATE),
      Mismatch("36000", VT_DATE),
      Mismatch("hello", VT_DATE),
      Mismatch("", VT_DATE),
      Overflow("1/1/10000", VT_DATE),
      Overflow("0099-12-31", VT_DATE),
  };
  Check(cases);
}

TEST(ChangeTypeTest, NumbersBetweenTypes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      Overflow(I4(70000), VT_I2),
      Ok(I4(32767), VT_I2, I2(32767)),
      Ok(I4(-32768), VT_I2, I2(-32768)),
      Overflow(I4(-1), VT_UI1),
      Ok(I2(255), VT_UI1, UI1(255)),
      Overflow(I2(256), VT_UI1),
      Ok(UI1(200), VT_I2, I2(200)),
      Ok(R8(2.5), VT_I4, I4(2)),
      Ok(R8(-2.5), VT_I4, I4(-2)),
      Ok(R8(3.5), VT_I2, I2(4)),
      Ok(R8(0.5), VT_UI1, UI1(0)),
      Ok(R8(-0.4), VT_UI1, UI1(0)),
      Overflow(R8(1e10), VT_I4),
      Overflow(R8(2147483647.5), VT_I4),
      Ok(R8(2147483646.5), VT_I4, I4(2147483646)),
      Ok(R8(-2147483648.5), VT_I4, I4(std::numeric_limits<std::int32_t>::min())),
      Overflow(R8(nan), VT_I4),
      Overflow(R8(std::numeric_limits<double>::infinity()), VT_I2),
      Ok(R4(2.5f), VT_I2, I2(2)),
      Overflow(R8(1e300), VT_R4),
      Ok(R8(0.5), VT_R4, R4(0.5f)),
      Ok(R4(0.5f), VT_R8, R8(0.5)),
      Ok(R8(1.23456), VT_CY, Cy(12346)),
      Ok(R8(-0.00005), VT_CY, Cy(0)),
      Overflow(R8(1e15), VT_CY),
      Overflow(R8(nan), VT_CY),
      Ok(I4(-2147483647 - 1), VT_CY, Cy(-21474836480000)),
      Ok(Cy(25000), VT_I4, I4(2)),
      Ok(Cy(35000), VT_I4, I4(4)),
      Ok(Cy(-25000), VT_I4, I4(-2)),
      Ok(Cy(-35001), VT_I4, I4(-4)),
      Ok(Cy(15001), VT_I2, I2(2)),
      Overflow(Cy(327680000), VT_I2),
      Ok(Cy(1000), VT_R8, R8(0.1)),
      Ok(Cy(std::numeric_limits<std::int64_t>::max()), VT_R8, R8(922337203685477.5807)),
      Ok(Cy(1000), VT_R4, R4(0.1f)),
      Ok(Dt(2.5), VT_I4, I4(2)),
      Ok(Dt(1.5), VT_R8, R8(1.5)),
      Ok(Dt(1.5), VT_CY, Cy(15000)),
      Ok(I4(36000), VT_DATE, Dt(36000.0)),
      Ok(R8(-657434.5), VT_DATE, Dt(-657434.5)),
      Overflow(R8(-657435.0), VT_DATE),
      Overflow(R8(2958466.0), VT_DATE),
      Overflow(R8(1e7), VT_DATE),
      Overflow(R8(nan), VT_DATE),
      Ok(Cy(15000), VT_DATE, Dt(1.5)),
  };
  Check(cases);
}

TEST(ChangeTypeTest, BoolBothWays) {
  const Case cases[] = {
      Ok(Bool(true), VT_I2, I2(-1)),
      Ok(Bool(true), VT_I4, I4(-1)),
      Ok(Bool(true), VT_UI1, UI1(255)),
      Ok(Bool(true), VT_R4, R4(-1)),
      Ok(Bool(true), VT_R8, R8(-1)),
      Ok(Bool(true), VT_CY, Cy(-10000)),
      Ok(Bool(true), VT_DATE, Dt(-1.0)),
      Ok(Bool(false), VT_I4, I4(0)),
      Ok(Bool(false), VT_UI1, UI1(0)),
      Ok(Bool(false), VT_R8, R8(0)),
      Ok(I4(0), VT_BOOL, Bool(false)),
      Ok(I4(5), VT_BOOL, Bool(true)),
      Ok(I2(-1), VT_BOOL, Bool(true)),
      Ok(UI1(0), VT_BOOL, Bool(false)),
      Ok(R8(0.1), VT_BOOL, Bool(true)),
      Ok(R8(-0.0), VT_BOOL, Bool(false)),
      Ok(R4(0.0f), VT_BOOL, Bool(false)),
      Ok(Cy(1), VT_BOOL, Bool(true)),
      Ok(Cy(0), VT_BOOL, Bool(false)),
      Ok(Dt(0.0), VT_BOOL, Bool(false)),
  };
  Check(cases);
}

TEST(ChangeTypeTest, EmptyAndNullBothWays) {
  const Case cases[] = {
      Ok(Variant(), VT_I2, I2(0)),
      Ok(Variant(), VT_I4, I4(0)),
      Ok(Variant(), VT_UI1, UI1(0)),
      Ok(Variant(), VT_R4, R4(0)),
      Ok(Variant(), VT_R8, R8(0)),
      Ok(Variant(), VT_CY, Cy(0)),
      Ok(Variant(), VT_DATE, Dt(0.0)),
      Ok(Variant(), VT_BOOL, Bool(false)),
      Ok(Variant(), VT_BSTR, Text("")),
      Ok(Variant(), VT_BYTES, Blob("")),
      Ok(Variant(), VT_EMPTY, Variant()),
      Ok(Variant(), VT_VARIANT, Variant()),
      Mismatch(Variant(), VT_NULL),
      Mismatch(Variant(), VT_DISPATCH),
      Ok(Variant::Null(), VT_NULL, Variant::Null()),
      Ok(Variant::Null(), VT_VARIANT, Variant::Null()),
      Mismatch(Variant::Null(), VT_EMPTY),
      Mismatch(Variant::Null(), VT_I2),
      Mismatch(Variant::Null(), VT_I4),
      Mismatch(Variant::Null(), VT_UI1),
      Mismatch(Variant::Null(), VT_R4),
      Mismatch(Variant::Null(), VT_R8),
      Mismatch(Variant::Null(), VT_CY),
      Mismatch(Variant::Null(), VT_DATE),
      Mismatch(Variant::Null(), VT_BOOL),
      Mismatch(Variant::Null(), VT_BYTES),
      Mismatch(Variant::Null(), VT_DISPATCH),
      // Nothing converts to Empty or Null but Empty and Null themselves.
      Mismatch(I4(1), VT_EMPTY),
      Mismatch(Text(""), VT_EMPTY),
      Mismatch(Bool(false), VT_EMPTY),
      Mismatch(I4(0), VT_NULL),
  };
  Check(cases);
}

TEST(ChangeTypeTest, ByteArraysObjectsAndOtherTargets) {
  const Case cases[] = {
      Ok(Text("h\xC3\xA9llo"), VT_BYTES, Utf16Blob(u"h\u00E9llo")),
      Ok(Text("\xF0\x9F\x98\x80"), VT_BYTES, Utf16Blob(u"\U0001F600")),  // a surrogate pair
      Ok(Text(""), VT_BYTES, Blob("")),
      Ok(Blob("\x01\xFF"), VT_BYTES, Blob("\x01\xFF")),
      // A byte array is read as UTF-16 code units, never as UTF-8: "AB" is A\0B\0, and no byte
      // reaches a text unconverted.
      Ok(Blob(std::string_view("A\0B\0", 4)), VT_BSTR, Text("AB")),
      Ok(Blob("\xFF\xFE"), VT_BSTR, Text("\xEF\xBB\xBF")),               // U+FEFF
      Ok(Utf16Blob(u"\U0001F600"), VT_BSTR, Text("\xF0\x9F\x98\x80")),  // a surrogate pair
      Mismatch(Blob("abc"), VT_BSTR),                                     // an odd number of bytes
      Mismatch(Blob(std::string_view("\x3D\xD8", 2)), VT_BSTR),          // an unpaired high surrogate
      Mismatch(Blob(std::string_view("\x00\xDC\x41\x00", 4)), VT_BSTR),  // an unpaired low surrogate
      Mismatch(Blob("12"), VT_I4),
      Mismatch(Blob("1"), VT_BOOL),
      Mismatch(I4(12), VT_BYTES),
      Mismatch(Bool(true), VT_BYTES),
      Mismatch(Dt(1.0), VT_BYTES),
      Mismatch(I4(1), VT_DISPATCH),
      Mismatch(Text("x"), VT_DISPATCH),
      Ok(I4(7), VT_VARIANT, I4(7)),
      Ok(Text("7"), VT_VARIANT, Text("7")),
      Mismatch(Variant::Missing(), VT_I4),
      Mismatch(Variant::Missing(), VT_BSTR),
      Ok(Variant::Missing(), VT_VARIANT, Variant::Missing()),
      Mismatch(I4(1), VT_DECIMAL),
      Mismatch(I4(1), VT_I1),
      Mismatch(I4(1), VT_UNKNOWN),
  };
  Check(cases);
}

class Thing : public DispatchObject<Thing> {
 public:
  static const DispatchTable<Thing>& Table() {
    static const DispatchTable<Thing> table([] {
      TypeInfo info;
      info.className = "Thing";
      return info;
    }());
    return table;
  }
};

TEST(ChangeTypeTest, ObjectStaysAnObjectAndConvertsToNothingElse) {
  const Variant obj(DispatchPtr(std::make_shared<Thing>()));
  const Case cases[] = {
      Ok(obj, VT_DISPATCH, obj),
      Ok(obj, VT_VARIANT, obj),
      Mismatch(obj, VT_BSTR),
      Mismatch(obj, VT_I4),
      Mismatch(obj, VT_BOOL),
      Mismatch(obj, VT_BYTES),
      Mismatch(obj, VT_EMPTY),
  };
  Check(cases);
}

TEST(ChangeTypeTest, TextRoundTripsThroughEveryType) {
  // What a value writes as text reads back as the same value.
  const Variant values[] = {
      I2(-32768), I4(2147483647), UI1(255), Bool(true), Bool(false), R8(0.1), R8(-1.5e-7), R8(1e20),
      R8(123456789012345.0), R4(0.1f), R4(-3.25e10f), Cy(std::numeric_limits<std::int64_t>::min()),
      Cy(1), Dt(1962, 10, 19, 16, 35, 47), Dt(-1.25), Dt(0.75), Dt(100, 1, 1, 0, 0, 1), Dt(9999, 12, 31, 23, 59, 59),
  };
  for (const Variant& v : values) {
    const Variant text = Converted(v, VT_BSTR);
    Variant back = text;
    try {
      ChangeType(back, v.vt());
      EXPECT_EQ(back, v) << Show(v) << " wrote " << Show(text) << ", read back " << Show(back);
    } catch (const Error& e) {
      ADD_FAILURE() << Show(v) << " wrote " << Show(text) << ", reading it back raised " << e.Number();
    }
  }
}

TEST(ChangeTypeTest, UntrustedTextOnlyEverRaisesNumberedErrors) {
  // Texts made of the characters the readers care about, in many arrangements: every conversion
  // either succeeds or raises Error 13 or 6 (an address sanitizer build also checks the reads).
  const std::string_view alphabet = "0123456789+-(),.$&HhOoEe :/APMTt\t\xC3\xA9Oct";
  const VarType targets[] = {VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_BYTES};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int round = 0; round < 8000; ++round) {
    std::string text(next() % 24, ' ');
    for (char& c : text) c = alphabet[next() % alphabet.size()];
    for (VarType t : targets) {
      Variant v(text);
      try {
        ChangeType(v, t);
        EXPECT_EQ(v.vt(), t);
      } catch (const Error& e) {
        EXPECT_TRUE(e.Number() == errors::kTypeMismatch || e.Number() == errors::kOverflow)
            << "\"" << text << "\" -> " << VarTypeName(t) << " raised " << e.Number();
      }
    }
  }
}

TEST(ConvertTest, Shorthands) {
  EXPECT_EQ(ToText(R8(2.5)), "2.5");
  EXPECT_EQ(ToText(Text("as is")), "as is");
  EXPECT_EQ(ToLong(Text(" 1,234 ")), 1234);
  EXPECT_EQ(ToInteger(R8(-2.5)), -2);
  EXPECT_TRUE(ToBool(Text("TRUE")));
  EXPECT_FALSE(ToBool(Variant()));
  EXPECT_EQ(ToDouble(Text("1.5E3")), 1500.0);
  EXPECT_THROW(ToLong(Variant::Null()), Error);
  try {
    ToInteger(I4(70000));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errors::kOverflow);
    EXPECT_EQ(e.Description(), "Overflow");
  }
}

TEST(ConvertTest, CompareValues) {
  struct Row {
    Variant a, b;
    int expected;  // -1, 0, 1; or an error number when above 1
  };
  const Row rows[] = {
      {I4(1), I4(2), -1},
      {I2(2), I4(2), 0},
      {R8(2.5), I4(2), 1},
      {Cy(15000), R8(1.5), 0},
      {Cy(15000), I4(2), -1},
      {Bool(true), I4(-1), 0},
      {Bool(true), Bool(false), -1},
      {Dt(1.5), R8(1.5), 0},
      {Text("abc"), Text("abd"), -1},
      {Text("b"), Text("B"), 1},  // binary comparison
      {Text("10"), Text("9"), -1},
      {Text("10"), I4(9), 1},
      {I4(9), Text("10"), -1},
      {Text(" 1,000 "), R8(1000), 0},
      {Text("True"), Bool(true), 0},
      {Bool(false), Text("0"), 0},
      {Text("10/19/1962"), Dt(1962, 10, 19), 0},
      {Variant(), I4(0), 0},
      {Variant(), I4(-1), 1},
      {Variant(), Text(""), 0},
      {Text("a"), Variant(), 1},
      {Variant(), Variant(), 0},
      {Utf16Blob(u"abc"), Text("abc"), 0},
      {Text("abc"), I4(1), errors::kTypeMismatch},
      {Variant::Null(), I4(1), errors::kInvalidUseOfNull},
      {Text("a"), Variant::Null(), errors::kInvalidUseOfNull},
      {Blob("1"), I4(1), errors::kTypeMismatch},
  };
  for (const Row& r : rows) {
    int got = 0;
    try {
      got = CompareValues(r.a, r.b);
      got = got < 0 ? -1 : (got > 0 ? 1 : 0);
    } catch (const Error& e) {
      got = e.Number();
    }
    EXPECT_EQ(got, r.expected) << "CompareValues(" << Show(r.a) << ", " << Show(r.b) << ")";
  }
}

TEST(ConvertTest, SplitAndMakeDate) {
  struct Row {
    double days;
    DateParts parts;
  };
  const Row rows[] = {
      {0.0, {1899, 12, 30, 0, 0, 0}},
      {1.0, {1899, 12, 31, 0, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0}},
      {2.75, {1900, 1, 1, 18, 0, 0}},
      {60.0, {1900, 2, 28, 0, 0, 0}},
      {61.0, {1900, 3, 1, 0, 0, 0}},  // 1900 is no leap year
      {36526.0, {2000, 1, 1, 0, 0, 0}},
      {36585.0, {2000, 2, 29, 0, 0, 0}},
      {-657434.0, {100, 1, 1, 0, 0, 0}},
      {2958465.0, {9999, 12, 31, 0, 0, 0}},
  };
  for (const Row& r : rows) {
    const DateParts p = SplitDate(Date{r.days});
    EXPECT_TRUE(p.year == r.parts.year && p.month == r.parts.month && p.day == r.parts.day && p.hour == r.parts.hour &&
                p.minute == r.parts.minute && p.second == r.parts.second)
        << r.days << " split as " << p.year << "-" << p.month << "-" << p.day << " " << p.hour << ":" << p.minute
        << ":" << p.second;
    EXPECT_EQ(MakeDate(r.parts).days, r.days) << r.parts.year << "-" << r.parts.month << "-" << r.parts.day;
  }
  // Every 13th day of the whole range splits and makes back to itself, with a time of day.
  for (double day = -657434.0; day <= 2958465.0; day += 13.0) {
    const Date d = MakeDate(SplitDate(Date{day}));
    ASSERT_EQ(d.days, day);
    const DateParts withTime{SplitDate(d).year, SplitDate(d).month, SplitDate(d).day, 13, 14, 15};
    const DateParts back = SplitDate(MakeDate(withTime));
    ASSERT_TRUE(back.day == withTime.day && back.hour == 13 && back.minute == 14 && back.second == 15) << day;
  }
  struct Bad {
    DateParts parts;
    std::int32_t error;
  };
  const Bad bad[] = {
      {{2000, 13, 1, 0, 0, 0}, errors::kInvalidProcedureCall},
      {{2001, 2, 29, 0, 0, 0}, errors::kInvalidProcedureCall},
      {{2000, 1, 1, 24, 0, 0}, errors::kInvalidProcedureCall},
      {{2000, 1, 1, 0, 60, 0}, errors::kInvalidProcedureCall},
      {{99, 12, 31, 0, 0, 0}, errors::kOverflow},
      {{10000, 1, 1, 0, 0, 0}, errors::kOverflow},
  };
  for (const Bad& b : bad) {
    try {
      MakeDate(b.parts);
      ADD_FAILURE() << "MakeDate accepted " << b.parts.year << "-" << b.parts.month << "-" << b.parts.day;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), b.error) << b.parts.year << "-" << b.parts.month << "-" << b.parts.day;
    }
  }
  EXPECT_THROW(SplitDate(Date{-657435.0}), Error);
  EXPECT_THROW(SplitDate(Date{2958466.0}), Error);
}

}  // namespace
}  // namespace morvane::automation
