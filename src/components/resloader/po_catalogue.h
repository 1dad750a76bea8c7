// Message catalogues of the resource loader: gettext .po files read with libgettextpo, keyed by
// msgid (the simplified-Chinese text) and giving msgstr. Only translated entries count: the
// header, fuzzy, obsolete, plural and context-qualified entries and empty translations are left
// out, so a key the translators have not done is "not held". Catalogues must be UTF-8.
//
// CachedCatalogue keeps every catalogue it has read, and every failure to read one, for the rest
// of the process, so a file is read once. It is thread-safe (one internal mutex, also serialising
// libgettextpo, which keeps global state while it reads).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

namespace morvane::components {

using Catalogue = std::unordered_map<std::string, std::string>;

// Error numbers of catalogue failures (the numbers the language runtime gives for resource files).

// Reads the catalogue at `path`. Raises automation::Error kFileNotFound when the file does
// not exist, kInvalidResourceFormat when it cannot be read or parsed or is not UTF-8; the
// description names the file and the first problem found, Source is the loader's ProgID.
Catalogue ReadPoCatalogue(const std::filesystem::path& path);

// The catalogue at `path`, read on first request and shared afterwards; a failed read raises the
// same error on every request. Raises as ReadPoCatalogue.
std::shared_ptr<const Catalogue> CachedCatalogue(const std::filesystem::path& path);

}  // namespace morvane::components
