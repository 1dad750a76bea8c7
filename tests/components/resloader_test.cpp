#include "components/resloader/resource_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "support/strings.h"
#include "testing/raised.h"
#include "testing/temp_folder.h"

namespace morvane::components {

namespace errors = automation::errors;
namespace {

using automation::DispatchPtr;
using automation::Variant;
using morvane::testing::ErrorOf;
using morvane::testing::TempFolder;

// Points MORVANE_RESOURCES at a folder (or unsets it) for the life of the object.
class ResourcesAt {
 public:
  explicit ResourcesAt(const std::optional<std::filesystem::path>& folder) {
    if (const char* old = std::getenv("MORVANE_RESOURCES")) previous_ = old;
    if (folder)
      ::setenv("MORVANE_RESOURCES", folder->c_str(), 1);
    else
      ::unsetenv("MORVANE_RESOURCES");
  }
  ~ResourcesAt() {
    if (previous_)
      ::setenv("MORVANE_RESOURCES", previous_->c_str(), 1);
    else
      ::unsetenv("MORVANE_RESOURCES");
  }
  ResourcesAt(const ResourcesAt&) = delete;
  ResourcesAt& operator=(const ResourcesAt&) = delete;

 private:
  std::optional<std::string> previous_;
};

// A loader created by its ProgID and set up the way the system sets it up, by member name.
DispatchPtr NewLoader(const std::string& baseName, const std::string& language) {
  RegisterResourceLoader();
  DispatchPtr loader = automation::CreateObject(strings::kResourceLoaderProgId);
  automation::PutProperty(*loader, "ResFileBaseName", baseName);
  automation::PutProperty(*loader, "LanguageID", language);
  return loader;
}

std::string Load(automation::Dispatch& loader, const Variant& key) {
  return automation::ToText(automation::Call(loader, "LoadString", key));
}

// The error that LoadString raises for the key (a test failure when it raises none).
automation::Error LoadError(automation::Dispatch& loader, const Variant& key) {
  return ErrorOf([&] { Load(loader, key); });
}

constexpr const char* kHeader =
    "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

// The shipped catalogues hold every built-in text in both languages.
TEST(ResourceLoader, ShippedCataloguesTranslateTheBuiltInTexts) {
  ResourcesAt shipped(std::nullopt);
  struct Case {
    std::string_view key;
    const char* en;
    const char* cht;
  } cases[] = {
      {strings::kUnknownErrorType, "Unknown error type", "未知錯誤類型"},
      {strings::kUnknownErrorItem, "Unknown error item", "未知錯誤項目"},
      {strings::kIncompleteKey, "The condition does not hold every key field", "條件關鍵字不全"},
      {strings::kCodeInUse, "This code is in use and cannot be changed or deleted", "該編碼已經被使用，不能修改刪除"},
      {strings::kCostItem, "Cost item", "成本項目"},
      {strings::kAuxiliaryProductionExpense, "Auxiliary production expense", "輔助生產費用"},
      {strings::kManufacturingExpense, "Manufacturing expense", "製造費用"},
      {strings::kAuxiliaryExpense, "Auxiliary expense", "輔助費用"},
  };
  auto en = NewLoader(std::string(strings::kResFileBaseName), "en");
  auto cht = NewLoader(std::string(strings::kResFileBaseName), "cht");
  for (const auto& c : cases) {
    EXPECT_EQ(Load(*en, c.key), c.en) << c.key;
    EXPECT_EQ(Load(*cht, c.key), c.cht) << c.key;
  }
}

TEST(ResourceLoader, PropertiesReadBackAndSwitchTheCatalogue) {
  ResourcesAt shipped(std::nullopt);
  auto loader = NewLoader("TorCost", "en");
  EXPECT_EQ(automation::ToText(automation::Call(*loader, "ResFileBaseName")), "TorCost");
  EXPECT_EQ(automation::ToText(automation::Call(*loader, "LanguageID")), "en");
  EXPECT_EQ(Load(*loader, "成本项目"), "Cost item");
  // The object must not keep serving the catalogue of the language it had before.
  automation::PutProperty(*loader, "LanguageID", "cht");
  EXPECT_EQ(Load(*loader, "成本项目"), "成本項目");
  // Unload lets go of the catalogue but keeps the settings.
  automation::Call(*loader, "Unload");
  EXPECT_EQ(automation::ToText(automation::Call(*loader, "LanguageID")), "cht");
  EXPECT_EQ(Load(*loader, "制造费用"), "製造費用");
}

TEST(ResourceLoader, FailuresRaiseNumberedErrors) {
  ResourcesAt shipped(std::nullopt);
  struct Case {
    const char* name;
    std::string baseName, language;
    Variant key;
    std::int32_t number;
  } cases[] = {
      {"unknown key", "TorCost", "en", Variant("没有这个文本"), errors::kResourceNotFound},
      {"key is not trimmed", "TorCost", "en", Variant(" 成本项目"), errors::kResourceNotFound},
      {"no catalogue for the language", "TorCost", "fr", Variant("成本项目"), errors::kFileNotFound},
      {"no catalogue folder", "NoSuchBase", "en", Variant("成本项目"), errors::kFileNotFound},
      {"language climbing out of the folder", "TorCost", "../TorCost/en", Variant("成本项目"),
       errors::kInvalidProcedureCall},
      {"base name climbing out", "..", "en", Variant("成本项目"), errors::kInvalidProcedureCall},
      {"empty language", "TorCost", "", Variant("成本项目"), errors::kInvalidProcedureCall},
      {"empty base name", "", "en", Variant("成本项目"), errors::kInvalidProcedureCall},
      {"Null key", "TorCost", "en", Variant::Null(), errors::kTypeMismatch},
  };
  for (const auto& c : cases) {
    auto loader = NewLoader(c.baseName, c.language);
    automation::Error e = LoadError(*loader, c.key);
    EXPECT_EQ(e.Number(), c.number) << c.name << ": " << e.Description();
    if (c.number != errors::kTypeMismatch) {  // the conversion's own error
      EXPECT_EQ(e.Source(), strings::kResourceLoaderProgId) << c.name;
      EXPECT_FALSE(e.Description().empty()) << c.name;
    }
  }
}

TEST(ResourceLoader, OnlyTranslatedEntriesCount) {
  TempFolder dir("morvane-res");
  dir.Write("Base/xx.po", std::string(kHeader) +
                              "msgid \"有\"\nmsgstr \"present\"\n\n"
                              "msgid \"空\"\nmsgstr \"\"\n\n"
                              "#, fuzzy\nmsgid \"模糊\"\nmsgstr \"fuzzy guess\"\n\n"
                              "msgctxt \"menu\"\nmsgid \"上下文\"\nmsgstr \"in context\"\n\n"
                              "#~ msgid \"旧\"\n#~ msgstr \"obsolete\"\n");
  ResourcesAt at(dir.path());
  auto loader = NewLoader("Base", "xx");
  EXPECT_EQ(Load(*loader, "有"), "present");
  for (const char* key : {"空", "模糊", "上下文", "旧", ""})
    EXPECT_EQ(LoadError(*loader, key).Number(), errors::kResourceNotFound) << key;
}

TEST(ResourceLoader, UnusableCataloguesRaiseAndKeepRaising) {
  TempFolder dir("morvane-res");
  struct Case {
    const char* language;
    std::string content;
  } cases[] = {
      {"syntax", std::string(kHeader) + "msgid \"a\"\nmsgstr unquoted\n"},
      {"duplicate", std::string(kHeader) + "msgid \"a\"\nmsgstr \"1\"\n\nmsgid \"a\"\nmsgstr \"2\"\n"},
      {"latin1", "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n\n"
                 "msgid \"a\"\nmsgstr \"b\"\n"},
      {"noheader", "msgid \"a\"\nmsgstr \"b\"\n"},
  };
  for (const auto& c : cases) dir.Write(std::string("Bad/") + c.language + ".po", c.content);
  ResourcesAt at(dir.path());
  for (const auto& c : cases) {
    auto loader = NewLoader("Bad", c.language);
    automation::Error first = LoadError(*loader, "a");
    EXPECT_EQ(first.Number(), errors::kInvalidResourceFormat) << c.language << ": " << first.Description();
    EXPECT_NE(first.Description().find(std::string(c.language) + ".po"), std::string::npos) << first.Description();
    // Read once: a second loader gets the same verdict.
    auto again = NewLoader("Bad", c.language);
    EXPECT_EQ(LoadError(*again, "a").Number(), errors::kInvalidResourceFormat) << c.language;
  }
}

TEST(ResourceLoader, ResourceFolderFollowsTheEnvironment) {
  {
    ResourcesAt at(std::filesystem::path("/some/where"));
    EXPECT_EQ(ResourceFolder(), std::filesystem::path("/some/where"));
  }
  ResourcesAt unset(std::nullopt);
  EXPECT_TRUE(std::filesystem::exists(ResourceFolder() / "TorCost" / "en.po")) << ResourceFolder();
}

// Loaders on several threads read one new catalogue at the same time: each gets every text.
TEST(ResourceLoader, ThreadsShareTheCatalogueSafely) {
  TempFolder dir("morvane-res");
  std::string content = kHeader;
  for (int i = 0; i < 200; ++i)
    content += "msgid \"键" + std::to_string(i) + "\"\nmsgstr \"value " + std::to_string(i) + "\"\n\n";
  dir.Write("Many/en.po", content);
  ResourcesAt at(dir.path());
  RegisterResourceLoader();

  constexpr int kThreads = 6;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&wrong, t] {
      ResourceLoader loader;
      loader.SetResFileBaseName("Many");
      loader.SetLanguageID("en");
      for (int i = 0; i < 200; ++i) {
        try {
          if (loader.LoadString(Variant("键" + std::to_string(i))) != "value " + std::to_string(i)) ++wrong[t];
        } catch (const automation::Error&) {
          ++wrong[t];
        }
        if (i % 50 == 0) loader.Unload();
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST(ResourceLoader, RegisteredWithItsIdentity) {
  RegisterResourceLoader();
  auto reg = automation::Registry::Instance().Find("pellresloader.loader");
  ASSERT_TRUE(reg.has_value());
  EXPECT_EQ(reg->info->transaction, automation::TransactionAttribute::NotSupported);
  EXPECT_TRUE(automation::Registry::Instance().Find(reg->info->clsid).has_value());
}

}  // namespace
}  // namespace morvane::components
