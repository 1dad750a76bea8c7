#include "call/json_form.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "platform/automation/convert.h"
#include "platform/automation/type_info.h"

namespace morvane::call {

using automation::Variant;

namespace {

[[noreturn]] void Fail(std::string message) { throw JsonFormError(std::move(message)); }

// A message of the parser made safe to print: no bytes of the input that are not printable ASCII.
std::string Printable(std::string_view text, std::size_t limit = 160) {
  std::string out;
  for (char c : text) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return out;
}

// The deepest nesting of arrays and objects in a JSON text, counted outside strings. Stops
// counting as soon as the limit is passed.
int NestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kMaxJsonDepth) break;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// ---- base64 (RFC 4648, standard alphabet) ----

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string EncodeBase64(const automation::Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) out += kBase64[(n >> shift) & 0x3F];
  }
  if (std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = bytes[i] << 16;
    if (rest == 2) n |= bytes[i + 1] << 8;
    out += kBase64[(n >> 18) & 0x3F];
    out += kBase64[(n >> 12) & 0x3F];
    out += rest == 2 ? kBase64[(n >> 6) & 0x3F] : '=';
    out += '=';
  }
  return out;
}

// Decodes base64 with or without padding; anything else (blanks included) is refused.
automation::Bytes DecodeBase64(std::string_view text) {
  std::size_t padding = 0;
  while (padding < 2 && !text.empty() && text.back() == '=') {
    text.remove_suffix(1);
    ++padding;
  }
  if (text.size() % 4 == 1 || (padding > 0 && (text.size() + padding) % 4 != 0))
    Fail("BYTES value is not base64 text");
  automation::Bytes out;
  out.reserve(text.size() * 3 / 4);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      Fail("BYTES value is not base64 text");
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

// ---- currency and dates: the grammar of the JSON form, the values by the automation conversions ----

// A value converted to CY by the automation layer; its overflow (6) is a value out of range. The
// message names the value as "CY value", followed by `shown` in quotes when it is given; it is
// made only on failure, so a value that converts costs no text.
Variant CurrencyOrFail(const Variant& value, std::string_view shown = {}) {
  try {
    return automation::Converted(value, automation::VT_CY);
  } catch (const automation::Error& e) {
    const std::string what = shown.empty() ? "CY value" : "CY value \"" + Printable(shown, 40) + "\"";
    if (e.Number() == automation::errors::kOverflow) Fail(what + " is out of range");
    Fail(what + " cannot be converted: " + e.Description());
  }
}

// "[+-]digits[.digits]" with at most four decimals (the conversion would round a fifth).
automation::Currency ParseCurrencyText(std::string_view text) {
  std::size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  const std::size_t intStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  std::size_t digits = i - intStart, decimals = 0;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fracStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    decimals = i - fracStart;
  }
  if (i != text.size() || digits + decimals == 0 || decimals > 4)
    Fail("CY value \"" + Printable(text, 40) + "\" is not a decimal text with at most 4 decimals");
  return CurrencyOrFail(Variant(std::string(text)), text).cy();
}

std::string DateText(automation::Date d) {
  automation::DateParts p = automation::SplitDate(d);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return text;
}

// Reads exactly `width` decimal digits at text[pos].
std::optional<int> Digits(std::string_view text, std::size_t pos, std::size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int n = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

automation::Date ParseDateText(std::string_view text) {
  auto bad = [&]() -> automation::Date {
    Fail("DATE value \"" + Printable(text, 40) + "\" is not YYYY-MM-DD[THH:MM[:SS]]");
  };
  auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  if (!year || !month || !day || text[4] != '-' || text[7] != '-') return bad();
  automation::DateParts p{*year, *month, *day, 0, 0, 0};
  if (text.size() > 10) {
    if (text[10] != 'T' && text[10] != ' ') return bad();
    auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2);
    if (!hour || !minute || text.size() < 16 || text[13] != ':') return bad();
    p.hour = *hour;
    p.minute = *minute;
    if (text.size() > 16) {
      auto second = Digits(text, 17, 2);
      if (!second || text[16] != ':' || text.size() != 19) return bad();
      p.second = *second;
    }
  }
  try {
    return automation::MakeDate(p);
  } catch (const automation::Error& e) {
    if (e.Number() != automation::errors::kOverflow) return bad();  // parts that name no moment
    Fail("DATE value \"" + Printable(text, 40) + "\" is outside the years 100 to 9999");
  }
}

// ---- numbers ----

// A JSON number as a double, or nullopt when it is not a number.
std::optional<double> NumberOf(const Json& j) {
  if (j.is_number_integer() && !j.is_number_unsigned()) return static_cast<double>(j.get<std::int64_t>());
  if (j.is_number_unsigned()) return static_cast<double>(j.get<std::uint64_t>());
  if (j.is_number_float()) return j.get<double>();
  return std::nullopt;
}

// A JSON integer (or a float with no fraction) within lo..hi.
std::int64_t IntegerIn(const Json& j, std::int64_t lo, std::int64_t hi, std::string_view type) {
  std::string range = std::to_string(lo) + " to " + std::to_string(hi);
  if (j.is_number_unsigned()) {
    std::uint64_t u = j.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(hi)) Fail(std::string(type) + " value is out of range (" + range + ")");
    return static_cast<std::int64_t>(u);
  }
  if (j.is_number_integer()) {
    std::int64_t n = j.get<std::int64_t>();
    if (n < lo || n > hi) Fail(std::string(type) + " value is out of range (" + range + ")");
    return n;
  }
  if (j.is_number_float()) {
    double d = j.get<double>();
    if (std::isfinite(d) && d == std::trunc(d) && d >= static_cast<double>(lo) && d <= static_cast<double>(hi))
      return static_cast<std::int64_t>(d);
    Fail(std::string(type) + " value must be an integer from " + range);
  }
  Fail(std::string(type) + " value must be an integer from " + range);
}

// A finite number, or one of the texts "NaN", "Infinity", "-Infinity".
double RealOf(const Json& j, std::string_view type) {
  if (auto d = NumberOf(j)) return *d;
  if (j.is_string()) {
    const auto& s = j.get_ref<const std::string&>();
    if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (s == "Infinity") return std::numeric_limits<double>::infinity();
    if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
  }
  Fail(std::string(type) + " value must be a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
}

Json NonFinite(double d) {
  const char* text = std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity";
  return Json{{"@vt", "R8"}, {"value", text}};
}

// R4 written as the shortest decimal that reads back as the same float, so 0.1f is 0.1.
Json FloatJson(float f) {
  if (!std::isfinite(f)) return NonFinite(f);
  std::array<char, 64> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), f);
  double d = f;
  if (ec == std::errc()) std::from_chars(buf.data(), end, d);
  return Json(d);
}

// ---- decoding ----

Variant FromJsonAt(const Json& j, int depth);

Variant Forced(const Json& j) {
  const Json& tag = j.at("@vt");
  if (!tag.is_string()) Fail("\"@vt\" must name a type");
  for (const auto& [key, value] : j.items())
    if (key != "@vt" && key != "value") Fail("a \"@vt\" object holds only \"@vt\" and \"value\", not \"" + Printable(key, 40) + "\"");
  const std::string& name = tag.get_ref<const std::string&>();
  auto has = j.contains("value");
  auto value = [&]() -> const Json& {
    if (!has) Fail("\"@vt\": \"" + Printable(name, 20) + "\" needs a \"value\"");
    return j.at("value");
  };
  using automation::EqualsIgnoreCase;
  if (EqualsIgnoreCase(name, "EMPTY")) {
    if (has && !j.at("value").is_null()) Fail("\"@vt\": \"EMPTY\" takes no value");
    return Variant();
  }
  if (EqualsIgnoreCase(name, "NULL")) {
    if (has && !j.at("value").is_null()) Fail("\"@vt\": \"NULL\" takes no value");
    return Variant::Null();
  }
  if (EqualsIgnoreCase(name, "I2")) return Variant(static_cast<std::int16_t>(IntegerIn(value(), -32768, 32767, "I2")));
  if (EqualsIgnoreCase(name, "I4"))
    return Variant(static_cast<std::int32_t>(IntegerIn(value(), std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max(), "I4")));
  if (EqualsIgnoreCase(name, "UI1")) return Variant(static_cast<std::uint8_t>(IntegerIn(value(), 0, 255, "UI1")));
  if (EqualsIgnoreCase(name, "R8")) return Variant(RealOf(value(), "R8"));
  if (EqualsIgnoreCase(name, "R4")) {
    double d = RealOf(value(), "R4");
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) Fail("R4 value is out of range");
    return Variant(static_cast<float>(d));
  }
  if (EqualsIgnoreCase(name, "CY")) {
    const Json& v = value();
    if (v.is_string()) return Variant(ParseCurrencyText(v.get_ref<const std::string&>()));
    auto d = NumberOf(v);
    if (!d) Fail("CY value must be a decimal text or a number");
    // An integer converts exactly from its decimal text; a fraction as the double it is.
    if (v.is_number_integer() || v.is_number_unsigned()) return CurrencyOrFail(Variant(v.dump()));
    return CurrencyOrFail(Variant(*d));
  }
  if (EqualsIgnoreCase(name, "DATE")) {
    const Json& v = value();
    if (v.is_string()) return Variant(ParseDateText(v.get_ref<const std::string&>()));
    auto d = NumberOf(v);
    if (!d) Fail("DATE value must be an ISO 8601 text or a day number");
    if (!automation::IsDateInRange(*d)) Fail("DATE value is outside the years 100 to 9999");
    return Variant(automation::Date{*d});
  }
  if (EqualsIgnoreCase(name, "BYTES")) {
    const Json& v = value();
    if (!v.is_string()) Fail("BYTES value must be base64 text");
    return Variant(DecodeBase64(v.get_ref<const std::string&>()));
  }
  if (EqualsIgnoreCase(name, "BSTR")) {
    const Json& v = value();
    if (!v.is_string()) Fail("BSTR value must be a string");
    return Variant(v.get<std::string>());
  }
  if (EqualsIgnoreCase(name, "BOOL")) {
    const Json& v = value();
    if (!v.is_boolean()) Fail("BOOL value must be true or false");
    return Variant(v.get<bool>());
  }
  Fail("\"@vt\": \"" + Printable(name, 20) + "\" is not a type that can be given");
}

Variant RecordFromJson(const Json& j, int depth) {
  auto record = objlib::KeyedRecord::New();
  for (const auto& [key, value] : j.items()) {
    if (record->Lookup(key)) Fail("the key \"" + Printable(key, 40) + "\" is given twice (keys ignore letter case)");
    record->SetValue(key, FromJsonAt(value, depth + 1));
  }
  return Variant(automation::DispatchPtr(record));
}

Variant ListFromJson(const Json& j, int depth) {
  auto list = objlib::RecordList::New();
  list->Reserve(j.size());
  for (const auto& element : j) list->Add(FromJsonAt(element, depth + 1));
  return Variant(automation::DispatchPtr(list));
}

Variant FromJsonAt(const Json& j, int depth) {
  if (depth > kMaxJsonDepth) Fail("JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  switch (j.type()) {
    case Json::value_t::null: return Variant::Null();
    case Json::value_t::boolean: return Variant(j.get<bool>());
    case Json::value_t::string: return Variant(j.get<std::string>());
    case Json::value_t::number_integer: {
      std::int64_t n = j.get<std::int64_t>();
      if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(n));
      return Variant(static_cast<double>(n));
    }
    case Json::value_t::number_unsigned: {
      std::uint64_t n = j.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return Variant(static_cast<std::int32_t>(n));
      return Variant(static_cast<double>(n));
    }
    case Json::value_t::number_float: {
      double d = j.get<double>();
      if (!std::isfinite(d)) Fail("a JSON number is out of range");
      return Variant(d);
    }
    case Json::value_t::object: return j.contains("@vt") ? Forced(j) : RecordFromJson(j, depth);
    case Json::value_t::array: return ListFromJson(j, depth);
    case Json::value_t::binary:
    case Json::value_t::discarded: break;
  }
  Fail("a JSON value of this kind has no automation value");
}

// ---- encoding ----

Json ToJsonAt(const Variant& v, int depth);

Json ObjectToJson(const automation::DispatchPtr& obj, int depth) {
  if (!obj) return Json{{"@vt", "DISPATCH"}, {"class", nullptr}};
  if (depth > kMaxJsonDepth)
    Fail("the value nests deeper than " + std::to_string(kMaxJsonDepth) + " levels (or holds itself)");
  if (auto* record = dynamic_cast<const objlib::KeyedRecord*>(obj.get())) {
    Json out = Json::object();
    for (std::size_t i = 0; i < record->size(); ++i) out.emplace(record->KeyAt(i), ToJsonAt(record->ValueAt(i), depth + 1));
    return out;
  }
  if (auto* list = dynamic_cast<const objlib::RecordList*>(obj.get())) {
    Json out = Json::array();
    for (std::int32_t i = 1; i <= list->UBound(); ++i) out.push_back(ToJsonAt(list->Item(i), depth + 1));
    return out;
  }
  return Json{{"@vt", "DISPATCH"}, {"class", obj->GetTypeInfo().className}};
}

Json ToJsonAt(const Variant& v, int depth) {
  using namespace automation;
  switch (v.vt()) {
    case VT_EMPTY: return Json{{"@vt", "EMPTY"}};
    case VT_NULL: return Json(nullptr);
    case VT_I2: return Json(static_cast<std::int64_t>(v.i2()));
    case VT_I4: return Json(static_cast<std::int64_t>(v.i4()));
    case VT_UI1: return Json(static_cast<std::int64_t>(v.ui1()));
    case VT_R4: return FloatJson(v.r4());
    case VT_R8: return std::isfinite(v.r8()) ? Json(v.r8()) : NonFinite(v.r8());
    case VT_CY: return Json{{"@vt", "CY"}, {"value", FormatCurrency(v.cy())}};
    case VT_DATE: {
      double days = v.date().days;
      if (IsDateInRange(days)) return Json{{"@vt", "DATE"}, {"value", DateText(v.date())}};
      if (!std::isfinite(days)) return Json{{"@vt", "DATE"}, {"value", nullptr}};
      return Json{{"@vt", "DATE"}, {"value", days}};
    }
    case VT_BSTR: return Json(v.text());
    case VT_BOOL: return Json(v.boolean());
    case VT_BYTES: return Json{{"@vt", "BYTES"}, {"value", EncodeBase64(v.bytes())}};
    case VT_DISPATCH: return ObjectToJson(v.object(), depth);
    case VT_ERROR: return Json{{"@vt", "ERROR"}, {"value", v.error().scode}};
    default: break;
  }
  return Json{{"@vt", std::string(VarTypeName(v.vt()))}};
}

}  // namespace

Json ParseJson(std::string_view text) {
  if (NestingDepth(text) > kMaxJsonDepth)
    Fail("JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  try {
    return Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    std::string_view what = e.what();
    if (auto close = what.find("] "); what.starts_with("[json.exception.") && close != std::string_view::npos)
      what.remove_prefix(close + 2);
    if (auto lastRead = what.find("; last read"); lastRead != std::string_view::npos) what = what.substr(0, lastRead);
    Fail("malformed JSON: " + Printable(what));
  }
}

std::string DumpJson(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Variant FromJson(const Json& json) { return FromJsonAt(json, 0); }

Json ToJson(const Variant& value) { return ToJsonAt(value, 0); }

std::string ResultCodeText(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return text;
}

Json ErrorToJson(const automation::Error& error) {
  return Json{{"number", error.Number()},
              {"hresult", ResultCodeText(error.ResultCode())},
              {"source", error.Source()},
              {"description", error.Description()},
              {"helpFile", error.HelpFile()}};
}

}  // namespace morvane::call
