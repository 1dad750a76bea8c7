// What every setting of the host's configuration is read with: the origin of the text (for
// messages and for relative paths) and readers of typed values that refuse a wrong type or a
// value out of range with a message naming the setting. Used by server_config.cpp and
// config_secret.cpp only. Plain functions, no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "call/json_form.h"

namespace morvane::host {

// Where a configuration text came from.
struct ConfigOrigin {
  std::string_view name;         // the file's path, or what stands for it; begins every message
  std::filesystem::path folder;  // relative paths are taken from here; empty: the current directory

  // Raises HostConfigError "<name>: <what>".
  [[noreturn]] void Fail(const std::string& what) const;
  // The path as written when it is absolute, else taken from `folder`.
  std::filesystem::path Resolve(const std::string& path) const;
};

// A whole number from min to max. Raises naming `key`.
// The key in double quotes, as messages name it: "workers".
std::string QuotedKey(std::string_view key);

std::int64_t IntegerSetting(const call::Json& value, const ConfigOrigin& origin, std::string_view key,
                            std::int64_t min, std::int64_t max);

// A string. Raises naming `key`.
std::string TextSetting(const call::Json& value, const ConfigOrigin& origin, std::string_view key);

// The contents of the regular file `file`, of at most maxBytes. Raises "<key>: cannot read
// <file>: <reason>" (the reason as the system gives it, or "not a regular file", "the file is
// empty", "the file is larger than N bytes"); never quotes the contents.
std::string ReadSettingFile(const std::filesystem::path& file, const ConfigOrigin& origin, std::string_view key,
                            std::size_t maxBytes);

}  // namespace morvane::host
