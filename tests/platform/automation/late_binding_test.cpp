#include <gtest/gtest.h>

#include <memory>
#include <span>

#include "platform/automation/dispatch_table.h"
#include "platform/automation/late_binding.h"

namespace morvane::automation {
namespace {

// A small class with one member of each binding shape.
class Sample : public DispatchObject<Sample> {
 public:
  static const DispatchTable<Sample>& Table() {
    static const DispatchTable<Sample> table =
        DispatchTable<Sample>(Info())
            .Method("Twice", 1, {{"Value", VT_I4}}, VT_I4,
                    [](Sample&, std::span<Variant> a) { return Variant(a[0].i4() * 2); })
            .Method("Greet", 2,
                    {{"Name", VT_BSTR}, {"Greeting", VT_BSTR, false, true, Variant("Hello")}}, VT_BSTR,
                    [](Sample&, std::span<Variant> a) { return Variant(a[1].text() + ", " + a[0].text()); })
            .Method("Bump", 3, {{"Counter", VT_I4, true}}, VT_EMPTY,
                    [](Sample& self, std::span<Variant> a) {
                      ++self.bumps;
                      a[0] = Variant(a[0].i4() + 1);
                      return Variant();
                    })
            .Get("Name", 4, {}, VT_BSTR, [](Sample& self, std::span<Variant>) { return Variant(self.name); })
            .Put("Name", 4, {{"Value", VT_BSTR}}, [](Sample& self, std::span<Variant> a) {
              self.name = a[0].text();
              return Variant();
            });
    return table;
  }

  std::string name;
  int bumps = 0;

 private:
  static TypeInfo Info() {
    TypeInfo info;
    info.className = "Sample";
    info.progId = "Test.Sample";
    return info;
  }
};

class LateBindingTest : public ::testing::Test {
 protected:
  std::shared_ptr<Sample> obj = std::make_shared<Sample>();
};

TEST_F(LateBindingTest, CallsByNameIgnoringLetterCaseAndConvertsArguments) {
  EXPECT_EQ(Call(*obj, "Twice", 21), Variant(42));
  EXPECT_EQ(Call(*obj, "tWICE", 4), Variant(8));
  EXPECT_EQ(Call(*obj, "Twice", "12"), Variant(24));  // text converted to the declared I4
  EXPECT_EQ(Call(*obj, "Twice", 2.5), Variant(4));    // R8 rounded half to even
}

TEST_F(LateBindingTest, OptionalParameterTakesItsDefault) {
  EXPECT_EQ(Call(*obj, "Greet", "Ann"), Variant("Hello, Ann"));
  EXPECT_EQ(Call(*obj, "Greet", "Ann", "Hi"), Variant("Hi, Ann"));
  EXPECT_EQ(Call(*obj, "Greet", "Ann", Variant::Missing()), Variant("Hello, Ann"));
}

TEST_F(LateBindingTest, ByReferenceArgumentIsWrittenBack) {
  std::vector<Variant> args{Variant(5)};
  CallByName(*obj, "bump", InvokeKind::Method, args);
  EXPECT_EQ(args[0], Variant(6));
  args = {Variant("41")};  // converted on the way in, written back in the declared type
  CallByName(*obj, "Bump", InvokeKind::Method, args);
  EXPECT_EQ(args[0], Variant(42));
}

TEST_F(LateBindingTest, PropertyPutAndGetByName) {
  PutProperty(*obj, "name", 7);
  EXPECT_EQ(obj->name, "7");
  EXPECT_EQ(Call(*obj, "NAME"), Variant("7"));
}

TEST_F(LateBindingTest, NamedArgumentsBindWithoutRegardToCase) {
  const MemberInfo& greet = FindMember(*obj, "Greet", InvokeKind::Method);
  std::vector<NamedArgument> named;
  named.push_back({"greeting", Variant("Hi")});
  named.push_back({"NAME", Variant("Ann")});
  const std::vector<Variant> bound = BindNamedArguments(greet, std::move(named));
  ASSERT_EQ(bound.size(), 2u);
  EXPECT_EQ(bound[0], Variant("Ann"));
  EXPECT_EQ(bound[1], Variant("Hi"));
}

TEST_F(LateBindingTest, BindingFailuresRaiseDispatchErrorOfTheirKind) {
  using Kind = DispatchError::Kind;
  struct Case {
    const char* what;
    std::string member;
    std::vector<Variant> args;
    Kind kind;
    std::int32_t number;
  };
  const std::vector<Case> cases = {
      {"unknown member", "Nope", {}, Kind::UnknownMember, 438},
      {"too many arguments", "Twice", {Variant(1), Variant(2)}, Kind::WrongArgumentCount, 450},
      {"required argument missing", "Twice", {}, Kind::ArgumentNotOptional, 449},
      {"required argument given as missing", "Twice", {Variant::Missing()}, Kind::ArgumentNotOptional, 449},
      {"argument not convertible", "Twice", {Variant("abc")}, Kind::ArgumentTypeMismatch, 13},
      {"argument Null", "Greet", {Variant::Null()}, Kind::ArgumentTypeMismatch, 13},
  };
  for (const Case& c : cases) {
    std::vector<Variant> args = c.args;
    try {
      CallByName(*obj, c.member, InvokeKind::Method, args);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const DispatchError& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.what << ": " << e.Description();
      EXPECT_EQ(e.Number(), c.number) << c.what;
    }
  }
  EXPECT_EQ(obj->bumps, 0);
}

}  // namespace
}  // namespace morvane::automation
