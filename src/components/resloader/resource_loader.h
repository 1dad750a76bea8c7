// The resource loader "PellRESLOADER.Loader": localised texts from gettext catalogues. A text is
// looked up by its simplified-Chinese form (the key) in the catalogue
// <resource folder>/<ResFileBaseName>/<LanguageID>.po, for example resources/TorCost/en.po.
// Catalogues are read once per process and shared (po_catalogue.h).
//
// The resource folder is the environment variable MORVANE_RESOURCES when it is set and not empty,
// else the installed data folder beside the library that holds the loader (<libdir>/../share/
// morvane/resources, wherever the installed files were put) when it exists, else the source tree's
// resources/ folder when it exists (builds run from the tree), else the data folder of the
// configured install prefix.
//
// Dispatch members (transaction attribute NotSupported):
//   ResFileBaseName (DISPID 1, get/put String), LanguageID (DISPID 2, get/put String),
//   LoadString(Key) (DISPID 3, Variant -> String), Unload() (DISPID 4).
// One object serves one thread at a time (each thread keeps its own, see thread_res_loader.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "components/resloader/po_catalogue.h"
#include "platform/automation/dispatch_table.h"

namespace morvane::components {

using automation::Variant;

// Error number of a key that the catalogue does not hold ("Resource not found").

class ResourceLoader : public automation::DispatchObject<ResourceLoader> {
 public:
  static const automation::DispatchTable<ResourceLoader>& Table();
  static constexpr std::string_view kProgId = "PellRESLOADER.Loader";

  // Both start empty; setting a different value drops the catalogue the object was using.
  const std::string& ResFileBaseName() const { return resFileBaseName_; }
  void SetResFileBaseName(std::string name);
  const std::string& LanguageID() const { return languageId_; }
  void SetLanguageID(std::string language);

  // The text the catalogue of the current base name and language holds for the key (the
  // simplified-Chinese text, converted to text as given: no trimming). Raises 13 when the key
  // cannot be converted to text (Null, an object). Raises, with Source the ProgID: 5 when the base
  // name or language is empty or holds a character other than a letter, digit, "_" or "-";
  // kFileNotFound or kInvalidResourceFormat (po_catalogue.h) for the catalogue;
  // kResourceNotFound for a key it does not hold (callers then use the key itself).
  std::string LoadString(const Variant& key);

  // Lets go of the catalogue the object was using; the properties keep their values. The
  // process-wide cache keeps the catalogue itself.
  void Unload();

 private:
  std::string resFileBaseName_;
  std::string languageId_;
  std::shared_ptr<const Catalogue> catalogue_;  // of the current base name and language, once used
};

// The folder that holds the catalogue folders (see the header comment).
std::filesystem::path ResourceFolder();

// Registers "PellRESLOADER.Loader" in the process's registry.
void RegisterResourceLoader();

}  // namespace morvane::components
