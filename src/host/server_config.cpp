#include "host/server_config.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

#include "call/json_form.h"

namespace morvane::host {

using call::Json;
using call::JsonFormError;
using call::ParseJson;

namespace {

// Configuration files are small; a larger one is a mistake (a wrong path, a binary file).
constexpr std::uintmax_t kMaxConfigBytes = 1u << 20;

[[noreturn]] void Fail(std::string_view origin, const std::string& what) {
  throw HostConfigError(std::string(origin) + ": " + what);
}

std::int64_t IntegerSetting(const Json& value, std::string_view origin, const char* key, std::int64_t min,
                            std::int64_t max) {
  if (!value.is_number_integer())
    Fail(origin, std::string("\"") + key + "\" must be a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  // Unsigned values above the signed range and signed ones alike are checked against the range.
  if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max))
    Fail(origin, std::string("\"") + key + "\" must be at most " + std::to_string(max));
  const std::int64_t n = value.get<std::int64_t>();
  if (n < min || n > max)
    Fail(origin, std::string("\"") + key + "\" must be from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", not " + std::to_string(n));
  return n;
}

std::string TextSetting(const Json& value, std::string_view origin, const char* key) {
  if (!value.is_string()) Fail(origin, std::string("\"") + key + "\" must be a string");
  return value.get<std::string>();
}

// A bearer token is sent in a header: visible ASCII, no blanks.
void CheckToken(const std::string& token, std::string_view origin) {
  if (token.empty()) Fail(origin, "\"token\" is empty; leave it out to serve without a token");
  for (unsigned char c : token)
    if (c <= 0x20 || c >= 0x7F) Fail(origin, "\"token\" may hold visible ASCII characters only (no blanks)");
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

HostConfig ParseHostConfig(std::string_view jsonText, std::string_view origin) {
  Json json;
  try {
    json = ParseJson(jsonText);
  } catch (const JsonFormError& e) {
    Fail(origin, e.what());
  }
  if (!json.is_object()) Fail(origin, "the configuration must be a JSON object");

  HostConfig config;
  for (const auto& [key, value] : json.items()) {
    if (key == "listen") {
      try {
        config.listen = ParseListenAddress(TextSetting(value, origin, "listen"));
      } catch (const HostConfigError& e) {
        Fail(origin, e.what());
      }
    } else if (key == "allow") {
      if (!value.is_array()) Fail(origin, "\"allow\" must be an array of connection strings");
      for (const auto& item : value) {
        if (!item.is_string()) Fail(origin, "\"allow\" must hold strings only");
        config.allow.push_back(item.get<std::string>());
      }
    } else if (key == "token") {
      config.token = TextSetting(value, origin, "token");
      CheckToken(config.token, origin);
    } else if (key == "workers") {
      config.workers = static_cast<int>(IntegerSetting(value, origin, "workers", 1, 256));
    } else if (key == "maxBodyBytes") {
      config.maxBodyBytes = static_cast<std::size_t>(IntegerSetting(value, origin, "maxBodyBytes", 1, 1LL << 30));
    } else if (key == "requestTimeoutSeconds") {
      config.requestTimeoutSeconds = static_cast<int>(IntegerSetting(value, origin, "requestTimeoutSeconds", 1, 3600));
    } else if (key == "transactionIdleSeconds") {
      config.transactionIdleSeconds =
          static_cast<int>(IntegerSetting(value, origin, "transactionIdleSeconds", 1, 86400));
    } else {
      Fail(origin, "unknown setting \"" + key +
                       "\" (known: listen, allow, token, workers, maxBodyBytes, requestTimeoutSeconds, "
                       "transactionIdleSeconds)");
    }
  }
  return config;
}

HostConfig ReadHostConfig(const std::filesystem::path& path) {
  const std::string origin = path.string();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) Fail(origin, "no such configuration file");
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) Fail(origin, "cannot read the file: " + ec.message());
  if (size > kMaxConfigBytes) Fail(origin, "the file is larger than a configuration can be");
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(origin, "cannot open the file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) Fail(origin, "cannot read the file");
  return ParseHostConfig(text.str(), origin);
}

}  // namespace morvane::host
