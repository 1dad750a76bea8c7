#include "host/server_config.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <type_traits>

#include "call/json_form.h"
#include "host/config_reading.h"
#include "host/config_secret.h"

namespace morvane::host {

using call::Json;
using call::JsonFormError;
using call::ParseJson;

namespace {

// Configuration files are small; a larger one is a mistake (a wrong path, a binary file).
constexpr std::uintmax_t kMaxConfigBytes = 1u << 20;
// Certificate chains and keys in PEM are a few kilobytes.
constexpr std::size_t kMaxTlsFileBytes = 1u << 20;

// A bearer token is sent in a header: visible ASCII, no blanks. `name` says where it came from.
void CheckToken(const std::string& token, const ConfigOrigin& origin, const std::string& name) {
  if (token.empty()) origin.Fail(name + " is empty; leave it out to serve without a token");
  for (unsigned char c : token)
    if (c <= 0x20 || c >= 0x7F) origin.Fail(name + " may hold visible ASCII characters only (no blanks)");
}

using ApplySetting = void (*)(const Json& value, std::string_view key, const ConfigOrigin& origin, HostConfig& config);

template <auto Member, std::int64_t Min, std::int64_t Max>
void SetInteger(const Json& value, std::string_view key, const ConfigOrigin& origin, HostConfig& config) {
  using Field = std::remove_reference_t<decltype(config.*Member)>;
  config.*Member = static_cast<Field>(IntegerSetting(value, origin, key, Min, Max));
}

void SetListen(const Json& value, std::string_view key, const ConfigOrigin& origin, HostConfig& config) {
  const std::string text = TextSetting(value, origin, key);
  try {
    config.listen = ParseListenAddress(text);
  } catch (const HostConfigError& e) {
    origin.Fail(e.what());
  }
}

// A TLS file must exist and be readable now: an operator learns of a wrong path at start-up,
// not at the first connection.
std::filesystem::path TlsFile(const Json& tls, const char* member, const ConfigOrigin& origin) {
  const std::string key = std::string("tls.") + member;
  const std::string written = TextSetting(tls.at(member), origin, key);
  if (written.empty()) origin.Fail("\"" + key + "\" is empty");
  std::error_code ec;
  std::filesystem::path file = std::filesystem::absolute(origin.Resolve(written), ec).lexically_normal();
  if (ec) origin.Fail(key + ": cannot resolve " + written + ": " + ec.message());
  ReadSettingFile(file, origin, key, kMaxTlsFileBytes);
  return file;
}

void SetTls(const Json& value, std::string_view, const ConfigOrigin& origin, HostConfig& config) {
  if (!value.is_object()) origin.Fail("\"tls\" must be an object: {\"certificate\": PATH, \"privateKey\": PATH}");
  for (const auto& [member, ignored] : value.items())
    if (member != "certificate" && member != "privateKey")
      origin.Fail("unknown setting \"tls." + member + "\" (known: certificate, privateKey)");
  for (const char* member : {"certificate", "privateKey"})
    if (!value.contains(member))
      origin.Fail("\"tls\" needs \"certificate\" and \"privateKey\"; \"tls." + std::string(member) + "\" is missing");
  config.tls = TlsFiles{TlsFile(value, "certificate", origin), TlsFile(value, "privateKey", origin)};
}

void SetAllow(const Json& value, std::string_view, const ConfigOrigin& origin, HostConfig& config) {
  if (!value.is_array()) origin.Fail("\"allow\" must be an array of connection strings");
  for (std::size_t i = 0; i < value.size(); ++i)
    config.allow.push_back(ResolveSecret(value[i], origin, "allow[" + std::to_string(i) + "]"));
}

void SetToken(const Json& value, std::string_view key, const ConfigOrigin& origin, HostConfig& config) {
  config.token = ResolveSecret(value, origin, key);
  CheckToken(config.token, origin, "\"token\"");
}

void SetAccessLog(const Json& value, std::string_view key, const ConfigOrigin& origin, HostConfig& config) {
  const std::string form = value.is_string() ? value.get<std::string>() : std::string();
  if (form == "text") {
    config.accessLog = AccessLogFormat::Text;
  } else if (form == "json") {
    config.accessLog = AccessLogFormat::Json;
  } else {
    origin.Fail(QuotedKey(key) + " must be \"text\" or \"json\"");
  }
}

struct Setting {
  std::string_view key;
  ApplySetting apply;
};

constexpr Setting kSettings[] = {
    {"listen", SetListen},
    {"tls", SetTls},
    {"allow", SetAllow},
    {"token", SetToken},
    {"accessLog", SetAccessLog},
    {"workers", SetInteger<&HostConfig::workers, 1, 256>},
    {"maxBodyBytes", SetInteger<&HostConfig::maxBodyBytes, 1, 1LL << 30>},
    {"requestTimeoutSeconds", SetInteger<&HostConfig::requestTimeoutSeconds, 1, 3600>},
    {"firstByteTimeoutSeconds", SetInteger<&HostConfig::firstByteTimeoutSeconds, 1, 3600>},
    {"maxConnectionsPerClient", SetInteger<&HostConfig::maxConnectionsPerClient, 1, 1000000>},
    {"transactionIdleSeconds", SetInteger<&HostConfig::transactionIdleSeconds, 1, 86400>},
    {"maxHeldTransactions", SetInteger<&HostConfig::maxHeldTransactions, 1, 1000000>},
    {"maxHeldTransactionsPerClient", SetInteger<&HostConfig::maxHeldTransactionsPerClient, 1, 1000000>},
};

std::string KnownKeys() {
  std::string known;
  for (const Setting& setting : kSettings) known += (known.empty() ? "" : ", ") + std::string(setting.key);
  return known;
}

}  // namespace

std::string ListenAddress::Text() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

ListenAddress ParseListenAddress(std::string_view text) {
  const std::string shown(text);
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos)
    throw HostConfigError("the listen address \"" + shown + "\" has no port; write ADDR:PORT, such as 127.0.0.1:8080");
  std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    throw HostConfigError("the listen address \"" + shown + "\" must write an IPv6 address in brackets: [::1]:8080");
  }
  if (host.empty()) throw HostConfigError("the listen address \"" + shown + "\" names no address");
  for (unsigned char c : host)
    if (c <= 0x20 || c >= 0x7F || c == '/' || c == '[' || c == ']')
      throw HostConfigError("the listen address \"" + shown + "\" is not an address or host name");
  int value = -1;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 0 || value > 65535)
    throw HostConfigError("the port of the listen address \"" + shown + "\" must be a number from 0 to 65535");
  return ListenAddress{std::string(host), value};
}

HostConfig ParseHostConfig(std::string_view jsonText, std::string_view origin, const std::filesystem::path& folder) {
  const ConfigOrigin from{origin, folder};
  Json json;
  try {
    json = ParseJson(jsonText);
  } catch (const JsonFormError& e) {
    from.Fail(e.what());
  }
  if (!json.is_object()) from.Fail("the configuration must be a JSON object");

  HostConfig config;
  for (const auto& [key, value] : json.items()) {
    const Setting* setting = nullptr;
    for (const Setting& s : kSettings)
      if (s.key == key) setting = &s;
    if (setting == nullptr) from.Fail("unknown setting \"" + key + "\" (known: " + KnownKeys() + ")");
    setting->apply(value, setting->key, from, config);
  }
  return config;
}

HostConfig ReadHostConfig(const std::filesystem::path& path) {
  const std::string origin = path.string();
  const ConfigOrigin from{origin, {}};
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) from.Fail("no such configuration file");
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) from.Fail("cannot read the file: " + ec.message());
  if (size > kMaxConfigBytes) from.Fail("the file is larger than a configuration can be");
  std::ifstream in(path, std::ios::binary);
  if (!in) from.Fail("cannot open the file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) from.Fail("cannot read the file");
  const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
  return ParseHostConfig(text.str(), origin, folder);
}

void ApplyTokenVariable(HostConfig& config) {
  const char* value = std::getenv(kTokenVariable);
  if (value == nullptr || *value == '\0') return;
  const ConfigOrigin from{"the environment", {}};
  CheckToken(value, from, std::string("$") + kTokenVariable);
  config.token = value;
}

}  // namespace morvane::host
