// The value check of one field: the variant type of each ADO type, conversion in place, the
// required flag and the declared size, and the error information of each refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "support/globals.h"

namespace morvane::support {
namespace {

using automation::Bytes;
using testing::BuilderDatabase;

std::string Repeat(const std::string& piece, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

TEST(GetVarTypeTest, MapsEveryAdoType) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> cases = {
      {2, 2},     {3, 3},     {4, 4},     {5, 5},     {6, 6},     {7, 7},     {133, 7},  {134, 7},
      {135, 7},   {11, 11},   {14, 8},    {20, 8},    {129, 8},   {130, 8},   {131, 8},  {200, 8},
      {201, 8},   {202, 8},   {16, 17},   {128, 8209}, {204, 8209}, {205, 8209}, {203, 0}, {17, 0},
      {72, 0},    {0, 0},     {8, 0},     {-1, 0},
  };
  for (const auto& [ado, vt] : cases) EXPECT_EQ(GetVarType(ado), vt) << "ADO type " << ado;
}

TEST(CheckFieldValueTest, ConversionRequiredAndSize) {
  BuilderDatabase db;
  auto ds = db.DataSource("chs");
  struct Case {
    const char* name;
    Variant value;
    std::int32_t varType;
    std::int32_t size;
    bool required;
    Variant expected;          // the value afterwards, when nothing is raised
    std::int32_t number = 0;   // the error raised, 0 for none
    std::string helpFile = "";
  };
  const std::string text250 = Repeat("x", 250);
  const std::string text251 = Repeat("x", 251);
  const std::string chinese250 = Repeat("数", 250);  // 750 bytes, 250 characters
  const std::vector<Case> cases = {
      {"Empty, not required", Variant(), 8, 10, false, Variant::Null()},
      {"Null, not required", Variant::Null(), 3, 0, false, Variant::Null()},
      {"Empty, required", Variant(), 8, 10, true, {}, 10000, "数量"},
      {"Null, required", Variant::Null(), 3, 0, true, {}, 10000, "数量"},
      {"digits for a Long", Variant("12"), 3, 0, false, Variant(12)},
      {"digits for a Long, size not applied", Variant("12"), 3, 1, false, Variant(12)},
      {"number for a text", Variant(12), 8, 10, false, Variant("12")},
      {"not convertible", Variant("12abc"), 3, 0, false, {}, 10004, "数量 = '12abc'"},
      {"overflow", Variant("70000"), 2, 0, false, {}, 10004, "数量 = '70000'"},
      {"type without variant type", Variant("x"), 0, 0, false, {}, 10004, "数量 = 'x'"},
      {"text at its size", Variant(text250), 8, 250, false, Variant(text250)},
      {"text one over its size", Variant(text251), 8, 250, false, {}, 10005, "数量 = '" + text251 + "'"},
      {"size counts characters", Variant(chinese250), 8, 250, false, Variant(chinese250)},
      {"size 0 takes any length", Variant(text251), 8, 0, false, Variant(text251)},
      {"empty text is a value", Variant(""), 8, 10, true, Variant("")},
      {"empty bytes, required", Variant(Bytes{}), 8209, 10, true, {}, 10000, "数量"},
      {"empty bytes, not required", Variant(Bytes{}), 8209, 10, false, Variant::Null()},
      {"bytes over the size", Variant(Bytes{0x41, 0, 0x42, 0, 0x43, 0}), 8209, 2, false, {}, 10005, "数量 = 'ABC'"},
      {"bytes at the size", Variant(Bytes{1, 2}), 8209, 2, true, Variant(Bytes{1, 2})},
      {"bytes, size 0", Variant(Bytes{1, 2, 3}), 8209, 0, true, Variant(Bytes{1, 2, 3})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Variant value = c.value;
    if (c.number == 0) {
      CheckFieldValue(*ds, "4", value, c.varType, c.size, c.required);
      EXPECT_EQ(value, c.expected);
      continue;
    }
    const automation::Error e =
        testing::ErrorOf([&] { CheckFieldValue(*ds, "4", value, c.varType, c.size, c.required); });
    EXPECT_EQ(e.Number(), c.number);
    // Named first: GCC 12 warns (-Wrestrict) at -O3 on "E" + std::to_string(...).
    const std::string number = std::to_string(c.number);
    EXPECT_EQ(e.Source(), "E" + number + " chs");
    EXPECT_EQ(e.Description(), "4");
    EXPECT_EQ(e.HelpFile(), c.helpFile);
  }
}

TEST(CheckFieldValueTest, ValueIsLeftAsGivenWhenItDoesNotConvert) {
  BuilderDatabase db;
  auto ds = db.DataSource("en");
  Variant value("abc");
  const automation::Error e = testing::ErrorOf([&] { CheckFieldValue(*ds, "4", value, 3, 0, true); });
  EXPECT_EQ(e.Source(), "E10004 en");
  EXPECT_EQ(value, Variant("abc"));
}

}  // namespace
}  // namespace morvane::support
