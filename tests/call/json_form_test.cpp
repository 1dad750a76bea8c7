#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "call/json_form.h"

namespace morvane::call {
namespace {

using automation::Variant;
using automation::VarType;

// JSON text in, value of the expected type, and the text it is written back as.
TEST(JsonFormTest, RoundTripsThroughTheValueModel) {
  struct Case {
    const char* input;
    VarType type;
    const char* output;  // nullptr: the same as the input
  };
  using namespace automation;
  const Case cases[] = {
      {"null", VT_NULL, nullptr},
      {"true", VT_BOOL, nullptr},
      {"false", VT_BOOL, nullptr},
      {"0", VT_I4, nullptr},
      {"-2147483648", VT_I4, nullptr},
      {"2147483647", VT_I4, nullptr},
      {"2147483648", VT_R8, "2147483648.0"},
      {"-2147483649", VT_R8, "-2147483649.0"},
      {"18446744073709551615", VT_R8, "1.8446744073709552e+19"},
      {"1.5", VT_R8, nullptr},
      {"1e2", VT_R8, "100.0"},
      {"\"h\xC3\xA9llo\"", VT_BSTR, nullptr},
      {"\"\"", VT_BSTR, nullptr},
      {R"({"Zeta":1,"alpha":"a","Mid":null})", VT_DISPATCH, nullptr},
      {R"({})", VT_DISPATCH, nullptr},
      {R"([])", VT_DISPATCH, nullptr},
      {R"([1,"two",{"k":[true]},[]])", VT_DISPATCH, nullptr},
      {R"({"@vt":"EMPTY"})", VT_EMPTY, nullptr},
      {R"({"@vt":"empty","value":null})", VT_EMPTY, R"({"@vt":"EMPTY"})"},
      {R"({"@vt":"NULL"})", VT_NULL, "null"},
      {R"({"@vt":"I2","value":-32768})", VT_I2, "-32768"},
      {R"({"@vt":"I4","value":7.0})", VT_I4, "7"},
      {R"({"@vt":"UI1","value":255})", VT_UI1, "255"},
      {R"({"@vt":"R4","value":0.1})", VT_R4, "0.1"},
      {R"({"@vt":"R8","value":3})", VT_R8, "3.0"},
      {R"({"@vt":"R8","value":"NaN"})", VT_R8, nullptr},
      {R"({"@vt":"R8","value":"-Infinity"})", VT_R8, nullptr},
      {R"({"@vt":"R4","value":"Infinity"})", VT_R4, R"({"@vt":"R8","value":"Infinity"})"},
      {R"({"@vt":"CY","value":"12.5"})", VT_CY, nullptr},
      {R"({"@vt":"CY","value":"12.5000"})", VT_CY, R"({"@vt":"CY","value":"12.5"})"},
      {R"({"@vt":"CY","value":"-0.0001"})", VT_CY, nullptr},
      {R"({"@vt":"CY","value":"922337203685477.5807"})", VT_CY, nullptr},
      {R"({"@vt":"CY","value":"-922337203685477.5808"})", VT_CY, nullptr},
      {R"({"@vt":"CY","value":3})", VT_CY, R"({"@vt":"CY","value":"3"})"},
      {R"({"@vt":"CY","value":1.25})", VT_CY, R"({"@vt":"CY","value":"1.25"})"},
      {R"({"@vt":"DATE","value":"1962-10-19T16:35:47"})", VT_DATE, nullptr},
      {R"({"@vt":"DATE","value":"2024-02-29"})", VT_DATE, R"({"@vt":"DATE","value":"2024-02-29T00:00:00"})"},
      {R"({"@vt":"DATE","value":"1899-12-30 06:00"})", VT_DATE, R"({"@vt":"DATE","value":"1899-12-30T06:00:00"})"},
      {R"({"@vt":"DATE","value":"0100-01-01T00:00:00"})", VT_DATE, nullptr},
      {R"({"@vt":"DATE","value":"9999-12-31T23:59:59"})", VT_DATE, nullptr},
      {R"({"@vt":"BYTES","value":"AAEC/w=="})", VT_BYTES, nullptr},
      {R"({"@vt":"BYTES","value":"AAEC/w"})", VT_BYTES, R"({"@vt":"BYTES","value":"AAEC/w=="})"},
      {R"({"@vt":"BYTES","value":""})", VT_BYTES, nullptr},
      {R"({"@vt":"BYTES","value":"TWE="})", VT_BYTES, nullptr},
      {R"({"@vt":"BSTR","value":"12"})", VT_BSTR, "\"12\""},
      {R"({"@vt":"BOOL","value":true})", VT_BOOL, "true"},
      {R"([{"@vt":"CY","value":"1"},{"a":{"@vt":"EMPTY"}}])", VT_DISPATCH, nullptr},
  };
  for (const Case& c : cases) {
    try {
      Variant v = FromJson(ParseJson(c.input));
      EXPECT_EQ(v.vt(), c.type) << c.input;
      EXPECT_EQ(DumpJson(ToJson(v)), c.output ? c.output : c.input) << c.input;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.input << " raised " << e.what();
    }
  }
}

TEST(JsonFormTest, ObjectsBecomeRecordsInKeyOrderAndArraysBecomeLists) {
  Variant v = FromJson(ParseJson(R"([{"FName":"a","FCode":"01"},[2]])"));
  auto* list = dynamic_cast<objlib::RecordList*>(v.object().get());
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->UBound(), 2);
  auto* record = dynamic_cast<objlib::KeyedRecord*>(list->Item(1).object().get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->KeyAt(0), "FName");
  EXPECT_EQ(record->KeyAt(1), "FCode");
  EXPECT_EQ(record->Value("fcode"), Variant("01"));
  EXPECT_NE(dynamic_cast<objlib::RecordList*>(list->Item(2).object().get()), nullptr);
}

// Values that only come from code, not from JSON, and how they are written.
TEST(JsonFormTest, WritesEveryValueKind) {
  struct Case {
    const char* name;
    Variant value;
    const char* expected;
  };
  auto selfless = objlib::RecordList::New();
  const Case cases[] = {
      {"I2", Variant(std::int16_t{-7}), "-7"},
      {"UI1", Variant(std::uint8_t{200}), "200"},
      {"R4", Variant(0.1f), "0.1"},
      {"R4 large", Variant(3.0e38f), "3e+38"},
      {"R8", Variant(-0.25), "-0.25"},
      {"R8 NaN", Variant(std::nan("")), R"({"@vt":"R8","value":"NaN"})"},
      {"R8 infinity", Variant(std::numeric_limits<double>::infinity()), R"({"@vt":"R8","value":"Infinity"})"},
      {"CY", Variant(automation::Currency{-1234567}), R"({"@vt":"CY","value":"-123.4567"})"},
      {"CY minimum", Variant(automation::Currency{std::numeric_limits<std::int64_t>::min()}),
       R"({"@vt":"CY","value":"-922337203685477.5808"})"},
      {"DATE before day 0", Variant(automation::Date{-1.25}), R"({"@vt":"DATE","value":"1899-12-29T06:00:00"})"},
      {"DATE out of range", Variant(automation::Date{1e12}), R"({"@vt":"DATE","value":1000000000000.0})"},
      {"DATE NaN", Variant(automation::Date{std::nan("")}), R"({"@vt":"DATE","value":null})"},
      {"bytes", Variant(automation::Bytes{'M', 'a', 'n'}), R"({"@vt":"BYTES","value":"TWFu"})"},
      {"bytes, one padding", Variant(automation::Bytes{'M', 'a'}), R"({"@vt":"BYTES","value":"TWE="})"},
      {"Nothing", Variant(automation::DispatchPtr()), R"({"@vt":"DISPATCH","class":null})"},
      {"missing argument", Variant::Missing(), R"({"@vt":"ERROR","value":-2147352572})"},
      {"text that is not UTF-8", Variant(std::string("a\xFF")), "\"a\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(DumpJson(ToJson(c.value)), c.expected) << c.name;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.name << " raised " << e.what();
    }
  }
}

TEST(JsonFormTest, ObjectThatIsNeitherRecordNorListIsNamedNotExpanded) {
  class Other : public automation::DispatchObject<Other> {
   public:
    static const automation::DispatchTable<Other>& Table() {
      static const automation::DispatchTable<Other> table = [] {
        automation::TypeInfo info;
        info.className = "Other";
        return automation::DispatchTable<Other>(info);
      }();
      return table;
    }
  };
  Variant v(automation::DispatchPtr(std::make_shared<Other>()));
  EXPECT_EQ(DumpJson(ToJson(v)), R"({"@vt":"DISPATCH","class":"Other"})");
}

TEST(JsonFormTest, ListThatHoldsItselfIsRefusedNotRecursedForever) {
  auto list = objlib::RecordList::New();
  list->Add(Variant(automation::DispatchPtr(list)));
  EXPECT_THROW(ToJson(Variant(automation::DispatchPtr(list))), JsonFormError);
  list->Item(1) = Variant();  // break the cycle so the list is freed
}

std::string Nested(int depth, char open, char close, const std::string& inner = "") {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open == '{' ? "{\"k\":" : std::string(1, open);
  text += inner.empty() ? "1" : inner;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(JsonFormTest, NestingUpToTheLimitIsReadAndDeeperIsRefused) {
  EXPECT_NO_THROW(FromJson(ParseJson(Nested(kMaxJsonDepth, '[', ']'))));
  EXPECT_NO_THROW(FromJson(ParseJson(Nested(kMaxJsonDepth, '{', '}'))));
  EXPECT_THROW(ParseJson(Nested(kMaxJsonDepth + 1, '[', ']')), JsonFormError);
  // Brackets inside strings do not count.
  EXPECT_NO_THROW(ParseJson("[\"" + std::string(1000, '[') + "\\\"\"]"));
}

// Hostile or meaningless input is refused with a JsonFormError whose message is one printable
// line: never a crash, never a stray exception type, never input bytes echoed raw.
TEST(JsonFormTest, HostileInputIsRefusedCleanly) {
  const std::string cases[] = {
      Nested(100000, '[', ']'),
      Nested(100000, '{', '}'),
      std::string(200000, '['),
      "",
      "[1,",
      "{\"a\":}",
      "[1] trailing",
      "1e400",
      "-1e400",
      "[\"\xFF\xFE\"]",
      "[\"\xC0\xAF\"]",
      "[\"\\ud800\"]",
      std::string("[\"a\0b\"]", 7),
      R"({"a":1,"A":2})",
      R"({"@vt":5})",
      R"({"@vt":"I2","value":40000})",
      R"({"@vt":"I2","value":1.5})",
      R"({"@vt":"I4","value":2147483648})",
      R"({"@vt":"I4","value":"12"})",
      R"({"@vt":"I4"})",
      R"({"@vt":"UI1","value":-1})",
      R"({"@vt":"R4","value":1e39})",
      R"({"@vt":"R8","value":"nan"})",
      R"({"@vt":"EMPTY","value":1})",
      R"({"@vt":"I4","value":1,"extra":2})",
      R"({"@vt":"DISPATCH","value":null})",
      R"({"@vt":"VARIANT","value":1})",
      R"({"@vt":"CY","value":"1.23456"})",
      R"({"@vt":"CY","value":"abc"})",
      R"({"@vt":"CY","value":""})",
      R"({"@vt":"CY","value":"-"})",
      R"({"@vt":"CY","value":"922337203685477.5808"})",
      R"({"@vt":"CY","value":"99999999999999999999999"})",
      R"({"@vt":"CY","value":1e300})",
      R"({"@vt":"CY","value":true})",
      R"({"@vt":"DATE","value":"2023-02-29"})",
      R"({"@vt":"DATE","value":"2023-13-01"})",
      R"({"@vt":"DATE","value":"2023-01-01T24:00:00"})",
      R"({"@vt":"DATE","value":"2023-01-01T10:00:00Z"})",
      R"({"@vt":"DATE","value":"0099-12-31"})",
      R"({"@vt":"DATE","value":"10000-01-01"})",
      R"({"@vt":"DATE","value":"19 Oct 1962"})",
      R"({"@vt":"DATE","value":"2023"})",
      R"({"@vt":"DATE","value":1e300})",
      R"({"@vt":"BYTES","value":"A"})",
      R"({"@vt":"BYTES","value":"AA=A"})",
      R"({"@vt":"BYTES","value":"AA="})",
      R"({"@vt":"BYTES","value":"AA==="})",
      R"({"@vt":"BYTES","value":"AA AA"})",
      R"({"@vt":"BYTES","value":12})",
      R"({"@vt":"BSTR","value":1})",
      R"({"@vt":"BOOL","value":"true"})",
      R"([{"@vt":"I2","value":70000}])",
  };
  for (const std::string& text : cases) {
    std::string shown = text.size() > 60 ? text.substr(0, 60) + "..." : text;
    try {
      FromJson(ParseJson(text));
      ADD_FAILURE() << "accepted: " << shown;
    } catch (const JsonFormError& e) {
      std::string message = e.what();
      EXPECT_FALSE(message.empty()) << shown;
      for (char ch : message)
        ASSERT_TRUE(ch >= 0x20 && ch < 0x7F) << "message of " << shown << " is not one printable line: " << message;
    } catch (const std::exception& e) {
      ADD_FAILURE() << shown << " raised another exception: " << e.what();
    }
  }
}

TEST(JsonFormTest, ErrorObjectCarriesTheFourFieldsAndTheResultCode) {
  struct Case {
    std::int32_t number;
    const char* hresult;
  };
  const Case cases[] = {
      {10004, "0x800A2714"},
      {5, "0x800A0005"},
      {65535, "0x800AFFFF"},
      {static_cast<std::int32_t>(0x80040E14u), "0x80040E14"},  // already a failure code
      {0, "0x00000000"},
  };
  for (const Case& c : cases) {
    try {
      automation::Raise(c.number, std::string("10010"), std::string("Code = 'X'"), std::string("help.chm"));
    } catch (const automation::Error& e) {
      Json j = ErrorToJson(e);
      EXPECT_EQ(DumpJson(j), std::string(R"({"number":)") + std::to_string(c.number) + R"(,"hresult":")" + c.hresult +
                                 R"(","source":"10010","description":"Code = 'X'","helpFile":"help.chm"})")
          << "number " << c.number;
    }
  }
}

}  // namespace
}  // namespace morvane::call
