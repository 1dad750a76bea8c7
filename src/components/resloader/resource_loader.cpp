#include "components/resloader/resource_loader.h"

#include <cstdlib>

#include "platform/automation/convert.h"
#include "platform/automation/registry.h"

namespace morvane::components {

namespace errors = automation::errors;

namespace {

using automation::DispatchTable;
using automation::TypeInfo;
using automation::VT_BSTR;
using automation::VT_EMPTY;
using automation::VT_VARIANT;

const std::string& Source() {
  static const std::string source(ResourceLoader::kProgId);
  return source;
}

// A name that may stand as one path component: no separators, no "..", nothing to expand.
bool IsSafeName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

void RequireSafeName(std::string_view what, const std::string& name) {
  if (!IsSafeName(name))
    automation::Raise(errors::kInvalidProcedureCall, Source(),
                      "The " + std::string(what) + " \"" + name +
                          "\" is not a valid catalogue name (letters, digits, \"_\" and \"-\" only)");
}

TypeInfo LoaderTypeInfo() {
  TypeInfo info;
  info.className = "Loader";
  info.progId = std::string(ResourceLoader::kProgId);
  info.clsid = "{E4FB324F-BBE6-4AE2-B85F-B7B368A45941}";
  info.interfaceName = "_Loader";
  info.iid = "{55B9E499-A832-4E48-AC01-AFE9241AD1EC}";
  info.typeLibrary = "PellRESLOADER";
  info.transaction = automation::TransactionAttribute::NotSupported;
  return info;
}

}  // namespace

const DispatchTable<ResourceLoader>& ResourceLoader::Table() {
  using A = std::span<Variant>;
  static const DispatchTable<ResourceLoader> table =
      DispatchTable<ResourceLoader>(LoaderTypeInfo())
          .Get("ResFileBaseName", 1, {}, VT_BSTR,
               [](ResourceLoader& self, A) { return Variant(self.ResFileBaseName()); })
          .Put("ResFileBaseName", 1, {{"Value", VT_BSTR}},
               [](ResourceLoader& self, A a) {
                 self.SetResFileBaseName(automation::ToText(a[0]));
                 return Variant();
               })
          .Get("LanguageID", 2, {}, VT_BSTR, [](ResourceLoader& self, A) { return Variant(self.LanguageID()); })
          .Put("LanguageID", 2, {{"Value", VT_BSTR}},
               [](ResourceLoader& self, A a) {
                 self.SetLanguageID(automation::ToText(a[0]));
                 return Variant();
               })
          .Method("LoadString", 3, {{"Key", VT_VARIANT}}, VT_BSTR,
                  [](ResourceLoader& self, A a) { return Variant(self.LoadString(a[0])); })
          .Method("Unload", 4, {}, VT_EMPTY, [](ResourceLoader& self, A) {
            self.Unload();
            return Variant();
          });
  return table;
}

void ResourceLoader::SetResFileBaseName(std::string name) {
  if (name != resFileBaseName_) catalogue_.reset();
  resFileBaseName_ = std::move(name);
}

void ResourceLoader::SetLanguageID(std::string language) {
  if (language != languageId_) catalogue_.reset();
  languageId_ = std::move(language);
}

std::string ResourceLoader::LoadString(const Variant& key) {
  std::string text = automation::ToText(key);
  if (!catalogue_) {
    RequireSafeName("resource file base name", resFileBaseName_);
    RequireSafeName("language", languageId_);
    catalogue_ = CachedCatalogue(ResourceFolder() / resFileBaseName_ / (languageId_ + ".po"));
  }
  auto it = catalogue_->find(text);
  if (it == catalogue_->end())
    automation::Raise(errors::kResourceNotFound, Source(),
                      "The catalogue " + resFileBaseName_ + "/" + languageId_ + ".po holds no text for \"" + text + "\"");
  return it->second;
}

void ResourceLoader::Unload() { catalogue_.reset(); }

std::filesystem::path ResourceFolder() {
  if (const char* env = std::getenv("MORVANE_RESOURCES"); env && *env) return env;
#ifdef MORVANE_SOURCE_RESOURCES
  std::error_code ec;
  if (std::filesystem::is_directory(MORVANE_SOURCE_RESOURCES, ec)) return MORVANE_SOURCE_RESOURCES;
#endif
#ifdef MORVANE_INSTALLED_RESOURCES
  return MORVANE_INSTALLED_RESOURCES;
#else
  return "resources";
#endif
}

void RegisterResourceLoader() {
  automation::Registry::Instance().Register(ResourceLoader::Table().info(),
                                            [] { return std::make_shared<ResourceLoader>(); });
}

}  // namespace morvane::components
