#include "components/resloader/resource_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <optional>

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

// The installed resource folder beside the module (the shared library, or a program built with the
// component's objects) that holds this code: MORVANE_RESOURCES_FROM_LIBDIR is the way from the
// installed library folder to the installed data folder, so the catalogues are found in whatever
// prefix the files were installed or unpacked under. Empty when there is no such folder, as in
// the build tree.
std::optional<std::filesystem::path> ResourcesBesideModule() {
#ifdef MORVANE_RESOURCES_FROM_LIBDIR
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&ResourceFolder), &info) == 0 || info.dli_fname == nullptr ||
      *info.dli_fname == '\0')
    return std::nullopt;
  std::error_code ec;
  const std::filesystem::path module = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return std::nullopt;
  std::filesystem::path folder = (module.parent_path() / MORVANE_RESOURCES_FROM_LIBDIR).lexically_normal();
  if (std::filesystem::is_directory(folder, ec)) return folder;
#endif
  return std::nullopt;
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
  // The module's place does not change while the process runs.
  static const std::optional<std::filesystem::path> besideModule = ResourcesBesideModule();
  if (besideModule) return *besideModule;
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
