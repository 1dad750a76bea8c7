// The error tables in each language, their fallbacks, and the fields every raising form fills.
#include "support/err_info.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "commandbuilder/builder_database.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {
namespace {

using testing::BuilderDatabase;
using testing::ErrorOf;

class ErrInfoTest : public ::testing::Test {
 protected:
  BuilderDatabase db;
};

TEST_F(ErrInfoTest, CodeTextsByLanguage) {
  struct Case {
    std::string language;  // empty: no LANGUAGE entry
    std::int32_t code;
    std::string statement;
    std::string text;  // empty: the fallback text of the language
  };
  const std::vector<Case> cases = {
      {"chs", 10004, "SELECT FDescriptive FROM CB_BmErrCode WHERE FCode =10004", "E10004 chs"},
      {"cht", 10004, "SELECT FDescriptive_CHT as FDescriptive FROM CB_BmErrCode WHERE FCode =10004", "E10004 cht"},
      {"en", 10004, "SELECT FDescriptive_EN as FDescriptive FROM CB_BmErrCode WHERE FCode =10004", "E10004 en"},
      // Languages without a column of their own, and a description without LANGUAGE, read "chs".
      {"fr", 10005, "SELECT FDescriptive FROM CB_BmErrCode WHERE FCode =10005", "E10005 chs"},
      {"", 10005, "SELECT FDescriptive FROM CB_BmErrCode WHERE FCode =10005", "E10005 chs"},
      // No row, and a NULL text: the fallback.
      {"chs", 4242, "SELECT FDescriptive FROM CB_BmErrCode WHERE FCode =4242", ""},
      {"en", 4242, "SELECT FDescriptive_EN as FDescriptive FROM CB_BmErrCode WHERE FCode =4242", ""},
      {"cht", 10008, "SELECT FDescriptive_CHT as FDescriptive FROM CB_BmErrCode WHERE FCode =10008", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("language '" + c.language + "', code " + std::to_string(c.code));
    auto ds = db.DataSource(c.language);
    db.Recorder().ClearLog();
    const std::string text = GetErrCodeDesc(*ds, c.code);
    const std::string language = c.language.empty() ? "chs" : c.language;
    EXPECT_EQ(text, c.text.empty() ? GetResString(strings::kUnknownErrorType, language) : c.text);
    EXPECT_EQ(db.Recorder().Texts(), std::vector<std::string>{c.statement});
  }
}

TEST_F(ErrInfoTest, ItemCaptions) {
  for (const std::string language : {"chs", "cht", "en"}) {
    SCOPED_TRACE(language);
    auto ds = db.DataSource(language);
    db.Recorder().ClearLog();
    EXPECT_EQ(GetErrItemDesc(*ds, 3), "名称");  // one caption for every language
    EXPECT_EQ(db.Recorder().Texts(), std::vector<std::string>{"SELECT FDescriptive FROM CB_BmErrItem WHERE FItem =3"});
    EXPECT_EQ(GetErrItemDesc(*ds, 99), GetResString(strings::kUnknownErrorItem, language));
  }
}

TEST_F(ErrInfoTest, FallbacksAreLocalised) {
  // The unknown texts of chs are the built-in ones; other languages take the loader's.
  auto chs = db.DataSource("chs");
  EXPECT_EQ(GetErrCodeDesc(*chs, 1), std::string(strings::kUnknownErrorType));
  EXPECT_EQ(GetErrItemDesc(*chs, 1000), std::string(strings::kUnknownErrorItem));
  auto en = db.DataSource("en");
  EXPECT_EQ(GetErrCodeDesc(*en, 1), GetResString(strings::kUnknownErrorType, "en"));
}

TEST_F(ErrInfoTest, RaisingForms) {
  struct Case {
    const char* name;
    std::string language;
    std::function<void(const datasource::CDataSource&)> raise;
    std::int32_t number;
    std::string source, description, helpFile;
  };
  const std::string appDefined(automation::StandardErrorText(10000));
  const std::vector<Case> cases = {
      {"field error with caption", "en", [](auto& ds) { RaiseFieldError(ds, 10000, "4"); }, 10000, "E10000 en", "4",
       "数量"},
      {"field error of the value check", "cht",
       [](auto& ds) { RaiseFieldError(ds, 10004, "4", " = '12abc'"); }, 10004, "E10004 cht", "4",
       "数量 = '12abc'"},
      {"field error of the field checks", "chs", [](auto& ds) { RaiseFieldError(ds, 10006, "3", " ='x'"); }, 10006,
       "E10006 chs", "3", "名称 ='x'"},
      {"field error of an unknown item", "chs", [](auto& ds) { RaiseFieldError(ds, 10000, "77"); }, 10000,
       "E10000 chs", "77", std::string(strings::kUnknownErrorItem)},
      {"field error of an item that is no number", "chs", [](auto& ds) { RaiseFieldError(ds, 10000, "x"); }, 10000,
       "E10000 chs", "x", std::string(strings::kUnknownErrorItem)},
      {"field error without LANGUAGE keeps its number", "", [](auto& ds) { RaiseFieldError(ds, 10005, "1"); }, 10005,
       "E10005 chs", "1", "代码"},
      {"record error", "en", [](auto& ds) { RaiseRecordError(ds, 10007); }, 10007, "E10007 en", appDefined, ""},
      {"message error", "chs", [](auto& ds) { RaiseMessageError(ds, 1, strings::kIncompleteKey); }, 1,
       std::string(strings::kIncompleteKey), appDefined, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto ds = db.DataSource(c.language);
    const automation::Error e = ErrorOf([&] { c.raise(*ds); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_EQ(e.Source(), c.source);
    EXPECT_EQ(e.Description(), c.description);
    EXPECT_EQ(e.HelpFile(), c.helpFile);
  }
}

TEST_F(ErrInfoTest, MessageErrorFollowsTheLanguage) {
  auto ds = db.DataSource("en");
  EXPECT_EQ(ErrorOf([&] { RaiseMessageError(*ds, 12222, strings::kCodeInUse); }).Source(),
            GetResString(strings::kCodeInUse, "en"));
}

TEST_F(ErrInfoTest, LookupFailuresReplaceTheErrorBeingRaised) {
  db.Exec("DROP TABLE CB_BmErrCode");
  auto ds = db.DataSource("chs");
  const automation::Error e = ErrorOf([&] { RaiseFieldError(*ds, 10000, "1"); });
  EXPECT_NE(e.Number(), 10000);
}

TEST(ErrorValueTextTest, RendersEveryValueWithoutRaising) {
  EXPECT_EQ(ErrorValueText(Variant("12abc")), "12abc");
  EXPECT_EQ(ErrorValueText(Variant(12)), "12");
  EXPECT_EQ(ErrorValueText(Variant(true)), "-1");
  EXPECT_EQ(ErrorValueText(Variant::Null()), "");
  EXPECT_EQ(ErrorValueText(Variant()), "");
  EXPECT_EQ(ErrorValueText(Variant(automation::DispatchPtr(objlib::KeyedRecord::New()))), "");
}

}  // namespace
}  // namespace morvane::support
