#include <gtest/gtest.h>

#include "platform/automation/error.h"

namespace morvane::automation {
namespace {

TEST(ErrorTest, ResultCodeOfMapsRunTimeNumbersAndKeepsFailureCodes) {
  struct Case {
    std::int32_t number;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {10004, 0x800A2714u}, {5, 0x800A0005u}, {1, 0x800A0001u}, {65535, 0x800AFFFFu},
      {static_cast<std::int32_t>(0x80004005u), 0x80004005u},  // already a failure result code
      {static_cast<std::int32_t>(0x80020005u), 0x80020005u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResultCodeOf(c.number), static_cast<std::int32_t>(c.expected)) << "number " << c.number;
    EXPECT_EQ(Error(c.number, "s", "d").ResultCode(), static_cast<std::int32_t>(c.expected)) << "number " << c.number;
  }
}

TEST(ErrorTest, RaiseFillsDefaultSourceAndStandardText) {
  struct Case {
    std::int32_t number;
    const char* text;
  };
  const Case cases[] = {
      {5, "Invalid procedure call or argument"},
      {6, "Overflow"},
      {9, "Subscript out of range"},
      {13, "Type mismatch"},
      {91, "Object variable or With block variable not set"},
      {94, "Invalid use of Null"},
      {438, "Object doesn't support this property or method"},
      {457, "This key is already associated with an element of this collection"},
      {10004, "Application-defined or object-defined error"},
  };
  for (const Case& c : cases) {
    try {
      Raise(c.number);
      ADD_FAILURE() << "Raise returned for " << c.number;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), c.number);
      EXPECT_EQ(e.Source(), "Morvane") << "number " << c.number;
      EXPECT_EQ(e.Description(), c.text) << "number " << c.number;
      EXPECT_EQ(e.HelpFile(), "") << "number " << c.number;
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

TEST(ErrorTest, RaiseKeepsTheFieldsItIsGiven) {
  try {
    Raise(10004, std::string("10010"), std::string("Code = 'X'"), std::string("help.chm"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 10004);
    EXPECT_EQ(e.Source(), "10010");
    EXPECT_EQ(e.Description(), "Code = 'X'");
    EXPECT_EQ(e.HelpFile(), "help.chm");
  }
  try {
    Raise(5, std::nullopt, std::string("bad index"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Source(), "Morvane");
    EXPECT_EQ(e.Description(), "bad index");
  }
}

}  // namespace
}  // namespace morvane::automation
