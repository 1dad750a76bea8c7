#include "host/config_secret.h"

#include <cstdlib>

namespace morvane::host {

namespace {

// A secret file holds one token or one connection string; anything larger is the wrong file.
constexpr std::size_t kMaxSecretFileBytes = 64u << 10;

std::string FormsOf(std::string_view key) {
  return QuotedKey(key) + " must be a string, {\"fromEnv\": NAME} or {\"fromFile\": PATH}";
}

std::string FromEnvironment(const call::Json& name, const ConfigOrigin& origin, std::string_view key) {
  if (!name.is_string() || name.get<std::string>().empty())
    origin.Fail(QuotedKey(key) + ": \"fromEnv\" must name an environment variable");
  const std::string variable = name.get<std::string>();
  const char* value = std::getenv(variable.c_str());
  if (value == nullptr) origin.Fail(QuotedKey(key) + ": the environment variable " + variable + " is not set");
  if (*value == '\0') origin.Fail(QuotedKey(key) + ": the environment variable " + variable + " is empty");
  return value;
}

std::string FromFile(const call::Json& path, const ConfigOrigin& origin, std::string_view key) {
  if (!path.is_string() || path.get<std::string>().empty())
    origin.Fail(QuotedKey(key) + ": \"fromFile\" must name a file");
  std::string contents = ReadSettingFile(origin.Resolve(path.get<std::string>()), origin, key, kMaxSecretFileBytes);
  // Editors and `echo` end the file with a line end that is not part of the secret.
  if (contents.ends_with("\r\n")) {
    contents.resize(contents.size() - 2);
  } else if (contents.ends_with('\n')) {
    contents.pop_back();
  }
  return contents;
}

}  // namespace

std::string ResolveSecret(const call::Json& value, const ConfigOrigin& origin, std::string_view key) {
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_object() || value.size() != 1) origin.Fail(FormsOf(key));
  const auto only = value.begin();
  const std::string& form = only.key();
  if (form == "fromEnv") return FromEnvironment(only.value(), origin, key);
  if (form == "fromFile") return FromFile(only.value(), origin, key);
  origin.Fail(FormsOf(key) + "; not \"" + form + "\"");
}

}  // namespace morvane::host
