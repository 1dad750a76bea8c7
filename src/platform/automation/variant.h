// Variant: the automation value that crosses every interface of the system (arguments, field
// values, shared properties, JSON). It holds one of the types below, tagged with the automation
// type code. Texts are stored as UTF-8; byte arrays are vectors of bytes; objects are counted
// references to dispatch objects. A Variant is a value type: copying copies the text or bytes and
// shares the object. Not thread-safe for concurrent writes, like any value.
//
//   Variant v = 42;                       // I4
//   Variant t = std::string("12");        // BSTR
//   ChangeType(t, VT_I4);                 // t is now I4 12 (see convert.h)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvane::automation {

// Automation type codes.
enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_ARRAY = 0x2000,
  VT_BYTES = VT_ARRAY | VT_UI1,  // 8209: array of bytes
};

class Dispatch;
// Counted reference to a dispatch object; the object model is counted, so objects are shared.
using DispatchPtr = std::shared_ptr<Dispatch>;

// Currency: a signed 64-bit integer scaled by 10,000.
struct Currency {
  std::int64_t scaled = 0;
  friend bool operator==(Currency, Currency) = default;
};

// Date: days since 1899-12-30 00:00; the fraction is the time of day.
struct Date {
  double days = 0.0;
  friend bool operator==(Date, Date) = default;
};

// The error value that stands for an optional argument the caller left out.
constexpr std::int32_t DISP_E_PARAMNOTFOUND = static_cast<std::int32_t>(0x80020004u);
struct ErrorCode {
  std::int32_t scode = DISP_E_PARAMNOTFOUND;
  friend bool operator==(ErrorCode, ErrorCode) = default;
};

using Bytes = std::vector<std::uint8_t>;

class Variant {
 public:
  struct EmptyTag {
    friend bool operator==(EmptyTag, EmptyTag) = default;
  };
  struct NullTag {
    friend bool operator==(NullTag, NullTag) = default;
  };

  Variant() = default;  // Empty
  Variant(std::int16_t v) : v_(v) {}
  Variant(std::int32_t v) : v_(v) {}
  Variant(float v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(Currency v) : v_(v) {}
  Variant(Date v) : v_(v) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(std::string_view v) : v_(std::string(v)) {}
  Variant(const char* v) : v_(std::string(v)) {}
  Variant(bool v) : v_(v) {}
  Variant(std::uint8_t v) : v_(v) {}
  Variant(Bytes v) : v_(std::move(v)) {}
  Variant(DispatchPtr v) : v_(std::move(v)) {}
  Variant(ErrorCode v) : v_(v) {}

  static Variant Null() {
    Variant v;
    v.v_ = NullTag{};
    return v;
  }
  // An omitted optional argument (VT_ERROR holding DISP_E_PARAMNOTFOUND).
  static Variant Missing() { return Variant(ErrorCode{}); }

  VarType vt() const;
  bool IsEmpty() const { return std::holds_alternative<EmptyTag>(v_); }
  bool IsNull() const { return std::holds_alternative<NullTag>(v_); }
  bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
  bool IsMissing() const {
    auto* e = std::get_if<ErrorCode>(&v_);
    return e && e->scode == DISP_E_PARAMNOTFOUND;
  }
  bool IsObject() const { return std::holds_alternative<DispatchPtr>(v_); }
  bool IsText() const { return std::holds_alternative<std::string>(v_); }

  // Typed access. REQUIRES: the Variant holds that type (check vt() first); otherwise
  // std::bad_variant_access is thrown. For conversions use convert.h.
  std::int16_t i2() const { return std::get<std::int16_t>(v_); }
  std::int32_t i4() const { return std::get<std::int32_t>(v_); }
  float r4() const { return std::get<float>(v_); }
  double r8() const { return std::get<double>(v_); }
  Currency cy() const { return std::get<Currency>(v_); }
  Date date() const { return std::get<Date>(v_); }
  const std::string& text() const { return std::get<std::string>(v_); }
  bool boolean() const { return std::get<bool>(v_); }
  std::uint8_t ui1() const { return std::get<std::uint8_t>(v_); }
  const Bytes& bytes() const { return std::get<Bytes>(v_); }
  const DispatchPtr& object() const { return std::get<DispatchPtr>(v_); }
  ErrorCode error() const { return std::get<ErrorCode>(v_); }

  // Exact equality of type and value (objects by identity). Not the language's "=" comparison.
  friend bool operator==(const Variant& a, const Variant& b) = default;

 private:
  std::variant<EmptyTag, NullTag, std::int16_t, std::int32_t, float, double, Currency, Date,
               std::string, bool, std::uint8_t, Bytes, DispatchPtr, ErrorCode>
      v_;
};

// The name of a type code as the JSON form and messages spell it ("I4", "BSTR", "EMPTY" ...).
std::string_view VarTypeName(VarType vt);

}  // namespace morvane::automation
