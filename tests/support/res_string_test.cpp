#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/resloader/thread_res_loader.h"
#include "datasource/c_parse.h"
#include "platform/automation/dispatch_table.h"
#include "platform/automation/registry.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {
namespace {

using automation::Variant;

// What the fake loaders of the test saw, and how they behave.
struct LoaderLog {
  int created = 0;
  int unloads = 0;
  std::vector<std::string> writes;  // "Property=value" for every property write
  std::vector<std::string> keys;    // every LoadString argument
  bool loadRaises = false;
  bool unloadRaises = false;
  Variant result;  // what LoadString gives; Empty: "<language>:<key>"
};

LoaderLog& Log() {
  static LoaderLog log;
  return log;
}

// A stand-in for the suite's resource loader, reached only by member name.
class FakeLoader : public automation::DispatchObject<FakeLoader> {
 public:
  static const automation::DispatchTable<FakeLoader>& Table();

  std::string baseName;
  std::string language;
};

const automation::DispatchTable<FakeLoader>& FakeLoader::Table() {
  using automation::VT_BSTR;
  using automation::VT_EMPTY;
  using automation::VT_VARIANT;
  using Args = std::span<Variant>;
  static const automation::DispatchTable<FakeLoader> table = [] {
    automation::TypeInfo info;
    info.className = "FakeLoader";
    info.progId = std::string(strings::kResourceLoaderProgId);
    info.clsid = "{6F1D2C4A-0000-4000-8000-00000000FA1E}";
    return automation::DispatchTable<FakeLoader>(info)
        .Get("ResFileBaseName", 1, {}, VT_BSTR, [](FakeLoader& self, Args) { return Variant(self.baseName); })
        .Put("ResFileBaseName", 1, {{"Value", VT_BSTR}},
             [](FakeLoader& self, Args a) {
               self.baseName = a[0].text();
               Log().writes.push_back("ResFileBaseName=" + self.baseName);
               return Variant();
             })
        .Get("LanguageID", 2, {}, VT_BSTR, [](FakeLoader& self, Args) { return Variant(self.language); })
        .Put("LanguageID", 2, {{"Value", VT_BSTR}},
             [](FakeLoader& self, Args a) {
               self.language = a[0].text();
               Log().writes.push_back("LanguageID=" + self.language);
               return Variant();
             })
        .Method("LoadString", 3, {{"Key", VT_VARIANT}}, VT_VARIANT,
                [](FakeLoader& self, Args a) {
                  Log().keys.push_back(a[0].text());
                  if (Log().loadRaises) automation::Raise(32811, "PellRESLOADER", "resource file not found");
                  if (!Log().result.IsEmpty()) return Log().result;
                  return Variant(self.language + ":" + a[0].text());
                })
        .Method("Unload", 4, {}, VT_EMPTY, [](FakeLoader&, Args) {
          ++Log().unloads;
          if (Log().unloadRaises) automation::Raise(5);
          return Variant();
        });
  }();
  return table;
}

void RegisterFakeLoader() {
  automation::Registry::Instance().Register(FakeLoader::Table().info(), [] {
    ++Log().created;
    return automation::DispatchPtr(std::make_shared<FakeLoader>());
  });
}

// Puts the fake loader in place of whatever class the ProgID names, and the old one back after.
class ResString : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = automation::Registry::Instance().Find(strings::kResourceLoaderProgId);
    RegisterFakeLoader();
    components::UnloadResLoader();
    Log() = LoaderLog{};
  }
  void TearDown() override {
    components::UnloadResLoader();
    automation::Registry::Instance().Unregister(strings::kResourceLoaderProgId);
    if (previous_) automation::Registry::Instance().Register(*previous_->info, previous_->factory);
  }

 private:
  std::optional<automation::ClassRegistration> previous_;
};

TEST_F(ResString, ChsGivesTheTextWithoutLookupButSetsTheLoaderUp) {
  EXPECT_EQ(GetResString(strings::kCostItem, "chs"), strings::kCostItem);
  EXPECT_EQ(Log().created, 1);
  EXPECT_TRUE(Log().keys.empty());
  EXPECT_EQ(Log().writes, (std::vector<std::string>{"ResFileBaseName=TorCost", "LanguageID=chs"}));
}

TEST_F(ResString, OtherLanguagesAskTheLoaderWithTheTrimmedText) {
  EXPECT_EQ(GetResString(strings::kCostItem, "en"), "en:成本项目");
  EXPECT_EQ(GetResString("  制造费用 ", "cht"), "cht:制造费用");
  // The comparison with "chs" is exact: another spelling is looked up.
  EXPECT_EQ(GetResString(strings::kCostItem, "CHS"), "CHS:成本项目");
  EXPECT_EQ(Log().keys, (std::vector<std::string>{"成本项目", "制造费用", "成本项目"}));
}

TEST_F(ResString, LoaderIsReusedAndPropertiesWrittenOnlyWhenTheyDiffer) {
  for (const char* language : {"en", "en", "cht", "cht", "chs", "en"}) GetResString(strings::kCostItem, language);
  EXPECT_EQ(Log().created, 1);
  EXPECT_EQ(Log().writes, (std::vector<std::string>{"ResFileBaseName=TorCost", "LanguageID=en", "LanguageID=cht",
                                                    "LanguageID=chs", "LanguageID=en"}));
}

TEST_F(ResString, LoaderResultsAreUsedAsTheyComeUnlessTheyAreNoText) {
  struct Case {
    const char* name;
    Variant result;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"empty text", Variant(""), ""},
      {"number", Variant(std::int32_t{42}), "42"},
      {"Null", Variant::Null(), "成本项目"},
  };
  for (const auto& c : cases) {
    Log().result = c.result;
    EXPECT_EQ(GetResString(strings::kCostItem, "en"), c.expected) << c.name;
  }
}

TEST_F(ResString, FailuresGiveTheTextItself) {
  Log().loadRaises = true;
  EXPECT_EQ(GetResString(" 成本项目 ", "en"), " 成本项目 ");
  Log().loadRaises = false;
  EXPECT_EQ(GetResString(strings::kCostItem, "en"), "en:成本项目");  // the loader is still usable

  // No loader installed: the text, and a later registration is picked up.
  components::UnloadResLoader();
  automation::Registry::Instance().Unregister(strings::kResourceLoaderProgId);
  EXPECT_EQ(GetResString(strings::kCostItem, "en"), strings::kCostItem);
  RegisterFakeLoader();
  EXPECT_EQ(GetResString(strings::kCostItem, "en"), "en:成本项目");
}

TEST_F(ResString, EndOfACParseUnloadsTheThreadsLoader) {
  GetResString(strings::kCostItem, "en");
  { datasource::CParse parse; }
  EXPECT_EQ(Log().unloads, 1);
  GetResString(strings::kCostItem, "en");
  EXPECT_EQ(Log().created, 2);
  // The new loader starts blank, so both properties are written again.
  EXPECT_EQ(Log().writes, (std::vector<std::string>{"ResFileBaseName=TorCost", "LanguageID=en",
                                                    "ResFileBaseName=TorCost", "LanguageID=en"}));
}

TEST_F(ResString, UnloadWithoutLoaderOrWithAFailingOneIsQuiet) {
  components::UnloadResLoader();  // nothing loaded
  EXPECT_EQ(Log().unloads, 0);

  GetResString(strings::kCostItem, "en");
  Log().unloadRaises = true;
  components::UnloadResLoader();
  EXPECT_EQ(Log().unloads, 1);
  components::UnloadResLoader();  // already cleared
  EXPECT_EQ(Log().unloads, 1);
  GetResString(strings::kCostItem, "en");
  EXPECT_EQ(Log().created, 2);
}

TEST_F(ResString, EachThreadHasItsOwnLoader) {
  GetResString(strings::kCostItem, "en");
  std::thread other([] {
    GetResString(strings::kCostItem, "cht");
    components::UnloadResLoader();
  });
  other.join();
  EXPECT_EQ(Log().created, 2);
  EXPECT_EQ(Log().unloads, 1);
  // This thread's loader was not touched by the other thread's unload.
  GetResString(strings::kCostItem, "en");
  EXPECT_EQ(Log().created, 2);
}

}  // namespace
}  // namespace morvane::support
