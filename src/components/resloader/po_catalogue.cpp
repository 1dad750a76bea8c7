#include "components/resloader/po_catalogue.h"

#include <gettext-po.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "components/resloader/resource_loader.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"

namespace morvane::components {

namespace errors = automation::errors;

namespace {

using automation::Error;

// Guards the cache and every use of libgettextpo.
std::mutex g_mutex;

struct CacheEntry {
  std::shared_ptr<const Catalogue> catalogue;
  std::optional<Error> failure;
};
std::map<std::string, CacheEntry>& Cache() {  // guarded by g_mutex
  static std::map<std::string, CacheEntry> cache;
  return cache;
}

// The first error that libgettextpo reported during the read in progress. Its handler is a plain
// function pointer, so it reaches the read through this variable (guarded by g_mutex).
std::optional<std::string> g_firstProblem;

// Thrown from the handler on a fatal error: libgettextpo must not get control back then.
struct FatalReadError {};

void OnProblem(int severity, po_message_t, const char* filename, size_t lineno, size_t, int,
               const char* text) {
  if (severity == PO_SEVERITY_WARNING) return;
  if (!g_firstProblem) {
    std::string where = filename ? std::string(filename) : std::string();
    if (filename && lineno != static_cast<size_t>(-1)) {
      where += ':';  // appended one by one: GCC 12 warns (-Wrestrict) on ":" + std::string at -O3
      where += std::to_string(lineno);
    }
    std::string message = text ? std::string(text) : std::string("unknown problem");
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    g_firstProblem = where.empty() ? message : where + ": " + message;
  }
  if (severity == PO_SEVERITY_FATAL_ERROR) throw FatalReadError{};
}

void OnProblem2(int severity, po_message_t message1, const char* filename1, size_t lineno1, size_t column1,
                int multiline1, const char* text1, po_message_t, const char*, size_t, size_t, int, const char*) {
  OnProblem(severity, message1, filename1, lineno1, column1, multiline1, text1);
}

const po_xerror_handler kHandler = {OnProblem, OnProblem2};

struct PoFileDeleter {
  void operator()(po_file_t f) const { po_file_free(f); }
};
struct PoIteratorDeleter {
  void operator()(po_message_iterator_t it) const { po_message_iterator_free(it); }
};
struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

[[noreturn]] void Malformed(const std::filesystem::path& path, const std::string& why) {
  automation::Raise(errors::kInvalidResourceFormat, std::string(ResourceLoader::kProgId),
                    "The message catalogue " + path.string() + " cannot be used: " + why);
}

bool DeclaresUtf8(po_file_t file) {
  // The header comes back as a copy of the entry's text that the caller frees.
  std::unique_ptr<char, FreeDeleter> header(const_cast<char*>(po_file_domain_header(file, nullptr)));
  if (!header) return false;
  std::unique_ptr<char, FreeDeleter> type(po_header_field(header.get(), "Content-Type"));
  if (!type) return false;
  std::string_view text(type.get());
  constexpr std::string_view kCharset = "charset=utf-8";
  for (std::size_t i = 0; i + kCharset.size() <= text.size(); ++i)
    if (automation::EqualsIgnoreCase(text.substr(i, kCharset.size()), kCharset)) return true;
  return false;
}

// Reads the file; REQUIRES: g_mutex held.
Catalogue ReadLocked(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    automation::Raise(errors::kFileNotFound, std::string(ResourceLoader::kProgId),
                      "There is no message catalogue " + path.string());

  g_firstProblem.reset();
  std::unique_ptr<po_file, PoFileDeleter> file;
  errno = 0;
  try {
    file.reset(po_file_read(path.c_str(), &kHandler));
  } catch (const FatalReadError&) {
    Malformed(path, g_firstProblem.value_or("fatal read error"));
  }
  if (!file) Malformed(path, g_firstProblem.value_or(errno ? std::strerror(errno) : "it cannot be read"));
  if (g_firstProblem) Malformed(path, *g_firstProblem);
  if (!DeclaresUtf8(file.get())) Malformed(path, "its header does not declare the charset UTF-8");

  Catalogue catalogue;
  std::unique_ptr<struct po_message_iterator, PoIteratorDeleter> it(po_message_iterator(file.get(), nullptr));
  while (po_message_t m = po_next_message(it.get())) {
    const char* id = po_message_msgid(m);
    const char* str = po_message_msgstr(m);
    if (!id || !*id || !str || !*str) continue;  // the header, untranslated entries
    if (po_message_is_obsolete(m) || po_message_is_fuzzy(m) || po_message_msgctxt(m) ||
        po_message_msgid_plural(m))
      continue;
    catalogue.insert_or_assign(id, str);
  }
  return catalogue;
}

}  // namespace

Catalogue ReadPoCatalogue(const std::filesystem::path& path) {
  std::lock_guard lock(g_mutex);
  return ReadLocked(path);
}

std::shared_ptr<const Catalogue> CachedCatalogue(const std::filesystem::path& path) {
  std::lock_guard lock(g_mutex);
  auto [it, inserted] = Cache().try_emplace(path.string());
  CacheEntry& entry = it->second;
  if (inserted) {
    try {
      entry.catalogue = std::make_shared<const Catalogue>(ReadLocked(path));
    } catch (const Error& e) {
      entry.failure = e;
    } catch (...) {
      Cache().erase(it);  // not a verdict on the file (out of memory ...): try again next time
      throw;
    }
  }
  if (entry.failure) throw *entry.failure;
  return entry.catalogue;
}

}  // namespace morvane::components
