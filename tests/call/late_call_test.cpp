#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "components/objlib/record_access.h"
#include "call/late_call.h"
#include "platform/automation/dispatch_table.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"

namespace morvane::call {
namespace {

using automation::Variant;

std::atomic<int> g_sideEffects{0};

// A class with one member for each outcome a late call can have.
class Callee : public automation::DispatchObject<Callee> {
 public:
  static const automation::DispatchTable<Callee>& Table() {
    using namespace automation;
    static const DispatchTable<Callee> table =
        DispatchTable<Callee>(Info())
            .Method("Add", 1, {{"A", VT_I4}, ParamInfo{"B", VT_I4, false, true, Variant(1)}}, VT_I4,
                    [](Callee&, std::span<Variant> a) { return Variant(a[0].i4() + a[1].i4()); })
            .Method("Fail", 2, {{"Number", VT_I4}}, VT_I4,
                    [](Callee&, std::span<Variant> a) -> Variant {
                      Raise(a[0].i4(), std::string("Test.Callee"), std::string("failed on purpose"),
                            std::string("callee.chm"));
                    })
            .Method("Touch", 3, {}, VT_EMPTY,
                    [](Callee&, std::span<Variant>) {
                      ++g_sideEffects;
                      return Variant(123);  // ignored: the member declares no result
                    })
            .Method("Throw", 4, {}, VT_I4,
                    [](Callee&, std::span<Variant>) -> Variant { throw std::runtime_error("boom"); })
            .Method("InnerBind", 5, {}, VT_I4,
                    [](Callee&, std::span<Variant>) {
                      // A late call of its own that fails to bind: the call's error, not the request's.
                      return Call(*objlib::KeyedRecord::New(), "NoSuchMember");
                    })
            .Method("Echo", 6, {{"Value", VT_VARIANT}}, VT_VARIANT,
                    [](Callee&, std::span<Variant> a) { return a[0]; })
            .Method("Open", 7, {{"sDsn", VT_BSTR}, {"nLevel", VT_I2}}, VT_I4,
                    [](Callee&, std::span<Variant>) {
                      ++g_sideEffects;
                      return Variant(0);
                    })
            .Get("Name", 8, {}, VT_BSTR, [](Callee&, std::span<Variant>) { return Variant("callee"); })
            .Method("Deep", 9, {}, VT_DISPATCH, [](Callee&, std::span<Variant>) {
              // Lists nested deeper than JSON is written: the result cannot be given back.
              Variant inner(1);
              for (int i = 0; i < kMaxJsonDepth + 10; ++i) {
                auto list = objlib::RecordList::New();
                list->Add(std::move(inner));
                inner = Variant(automation::DispatchPtr(list));
              }
              return inner;
            });
    return table;
  }

 private:
  static automation::TypeInfo Info() {
    automation::TypeInfo info;
    info.className = "Callee";
    info.progId = "Test.Callee";
    info.clsid = "{0D7C5B5E-7F3A-4C53-9C39-1A3B7E0E5A01}";
    return info;
  }
};

class LateCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    objlib::RegisterObjLibClasses();
    automation::Registry::Instance().Register(Callee::Table().info(),
                                              [] { return automation::DispatchPtr(std::make_shared<Callee>()); });
    g_sideEffects = 0;
  }
};

const char* KindName(CallOutcomeKind kind) {
  switch (kind) {
    case CallOutcomeKind::Ok: return "Ok";
    case CallOutcomeKind::CallError: return "CallError";
    case CallOutcomeKind::BadRequest: return "BadRequest";
    case CallOutcomeKind::NotFound: return "NotFound";
    case CallOutcomeKind::Refused: return "Refused";
  }
  return "?";
}

TEST_F(LateCallTest, OutcomesOfCalls) {
  struct Case {
    const char* progId;
    const char* member;
    const char* args;
    CallOutcomeKind kind;
    const char* body;  // Ok: the result; CallError: the error's number; else nullptr
  };
  using K = CallOutcomeKind;
  const Case cases[] = {
      {"Test.Callee", "Add", "[2,3]", K::Ok, "5"},
      {"test.callee", "add", "[2]", K::Ok, "3"},                // default of the optional parameter
      {"Test.Callee", "Add", R"({"b":3,"A":2})", K::Ok, "5"},    // named, letter case ignored
      {"Test.Callee", "Add", R"(["40", 2])", K::Ok, "42"},      // converted to the declared type
      {"Test.Callee", "Add", " [1] ", K::Ok, "2"},
      {"Test.Callee", "Touch", "", K::Ok, "null"},              // no result declared
      {"Test.Callee", "Touch", "[]", K::Ok, "null"},
      {"Test.Callee", "Name", "", K::Ok, "\"callee\""},         // a property get by name
      {"Test.Callee", "Echo", R"([{"b":[1,{"c":null}],"a":{"@vt":"CY","value":"1.5"}}])", K::Ok,
       R"({"b":[1,{"c":null}],"a":{"@vt":"CY","value":"1.5"}})"},
      {"Test.Callee", "Echo", R"([{"@vt":"EMPTY"}])", K::Ok, R"({"@vt":"EMPTY"})"},
      {"ObjLib.TextMeter", "Measure", "[\"h\xC3\xA9llo\"]", K::Ok, "5"},
      {"ObjLib.KeyedRecord", "Count", "", K::Ok, "0"},
      {"ObjLib.KeyedRecord", "Value", R"(["absent"])", K::Ok, R"({"@vt":"EMPTY"})"},

      {"Test.Callee", "Fail", "[10004]", K::CallError, "10004"},
      {"Test.Callee", "Throw", "", K::CallError, "51"},
      {"Test.Callee", "InnerBind", "", K::CallError, "438"},
      {"Test.Callee", "Deep", "", K::CallError, "51"},
      {"ObjLib.RecordList", "Item", "[1]", K::CallError, "9"},

      {"Test.Callee", "Add", "[1,", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "[1,2,3]", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "[]", K::BadRequest, nullptr},
      {"Test.Callee", "Add", R"(["abc"])", K::BadRequest, nullptr},
      {"Test.Callee", "Add", R"([{"a":1}])", K::BadRequest, nullptr},
      {"Test.Callee", "Add", R"({"C":1})", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "5", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "null", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "\"[1]\"", K::BadRequest, nullptr},
      {"Test.Callee", "Add", R"([{"@vt":"I2","value":70000}])", K::BadRequest, nullptr},
      {"Test.Callee", "Add", "[\"\xFF\"]", K::BadRequest, nullptr},

      {"No.Such", "Add", "[1]", K::NotFound, nullptr},
      {"", "Add", "", K::NotFound, nullptr},
      {"Test.Callee", "Subtract", "[1]", K::NotFound, nullptr},
  };
  for (const Case& c : cases) {
    std::string label = std::string(c.progId) + "." + c.member + " " + c.args;
    CallOutcome out = LateCallText(c.progId, c.member, c.args);
    ASSERT_EQ(out.kind, c.kind) << label << ": got " << KindName(out.kind) << " " << DumpJson(out.body) << " "
                                << out.message;
    switch (c.kind) {
      case K::Ok: EXPECT_EQ(DumpJson(out.body), c.body) << label; break;
      case K::CallError: EXPECT_EQ(out.body.at("number").dump(), c.body) << label; break;
      default:
        EXPECT_FALSE(out.message.empty()) << label;
        EXPECT_TRUE(out.body.is_null()) << label;
    }
  }
  EXPECT_EQ(g_sideEffects, 2);  // Touch ran twice; nothing else had side effects
}

TEST_F(LateCallTest, RaisedErrorCrossesAsItsFourFieldsAndResultCode) {
  CallOutcome out = LateCallText("Test.Callee", "Fail", "[10004]");
  ASSERT_EQ(out.kind, CallOutcomeKind::CallError);
  EXPECT_EQ(DumpJson(out.body),
            R"({"number":10004,"hresult":"0x800A2714","source":"Test.Callee","description":"failed on purpose",)"
            R"("helpFile":"callee.chm"})");

  out = LateCallText("Test.Callee", "Throw", "");
  ASSERT_EQ(out.kind, CallOutcomeKind::CallError);
  EXPECT_EQ(out.body.at("hresult"), "0x800A0033");
  EXPECT_NE(out.body.at("description").get<std::string>().find("boom"), std::string::npos);
}

TEST_F(LateCallTest, ValidatorSeesConvertedArgumentsAndCanRefuse) {
  int seen = 0;
  LateCallOptions options;
  options.validate = [&](const automation::TypeInfo& type, const automation::MemberInfo& member,
                         std::span<const Variant> args) -> std::optional<std::string> {
    ++seen;
    EXPECT_EQ(type.progId, "Test.Callee");
    EXPECT_EQ(member.name, "Open");
    EXPECT_EQ(args.size(), 2u);
    EXPECT_EQ(args[1], Variant(std::int16_t{3}));  // already the declared I2
    if (args[0].text() != "allowed") return "the database \"" + args[0].text() + "\" is not allowed";
    return std::nullopt;
  };

  CallOutcome out = LateCallText("Test.Callee", "Open", R"(["other", 3])", options);
  EXPECT_EQ(out.kind, CallOutcomeKind::Refused);
  EXPECT_EQ(out.message, "the database \"other\" is not allowed");
  EXPECT_EQ(g_sideEffects, 0) << "a refused call must not run";

  out = LateCallText("Test.Callee", "Open", R"({"nLevel":"3","sDsn":"allowed"})", options);
  EXPECT_EQ(out.kind, CallOutcomeKind::Ok);
  EXPECT_EQ(g_sideEffects, 1);
  EXPECT_EQ(seen, 2);

  // A request that cannot be bound never reaches the validator.
  out = LateCallText("Test.Callee", "Open", R"(["allowed"])", options);
  EXPECT_EQ(out.kind, CallOutcomeKind::BadRequest);
  EXPECT_EQ(seen, 2);
}

TEST_F(LateCallTest, ValidatorThatThrowsIsAnErrorNotACrash) {
  LateCallOptions options;
  options.validate = [](const automation::TypeInfo&, const automation::MemberInfo&,
                        std::span<const Variant>) -> std::optional<std::string> { throw std::logic_error("bad"); };
  CallOutcome out = LateCallText("Test.Callee", "Add", "[1]", options);
  EXPECT_EQ(out.kind, CallOutcomeKind::CallError);
}

TEST_F(LateCallTest, ParsedArgumentsAreAcceptedDirectly) {
  CallOutcome out = LateCall("Test.Callee", "Add", Json::array({20, 22}));
  ASSERT_EQ(out.kind, CallOutcomeKind::Ok);
  EXPECT_EQ(out.body, 42);
  out = LateCall("Test.Callee", "Touch", Json(nullptr));
  EXPECT_EQ(out.kind, CallOutcomeKind::Ok);
  out = LateCall("Test.Callee", "Add", Json("text"));
  EXPECT_EQ(out.kind, CallOutcomeKind::BadRequest);
}

}  // namespace
}  // namespace morvane::call
