// The configuration of the network host (`morvane serve`): where it listens, its TLS files, which
// databases it may open, the bearer token it asks for, the access log's form, and its limits.
// Read from a JSON file and completed by the environment and the command line:
//
//   {
//     "listen": "127.0.0.1:8443",
//     "tls": {"certificate": "tls/cert.pem", "privateKey": "tls/key.pem"},
//     "allow": ["Provider=SQLite;Data Source=/var/lib/morvane/morvane.db", {"fromFile": "pg.dsn"}],
//     "token": {"fromEnv": "COST_API_TOKEN"},
//     "accessLog": "json",
//     "workers": 8,
//     "maxBodyBytes": 4194304,
//     "requestTimeoutSeconds": 10,
//     "firstByteTimeoutSeconds": 5,
//     "maxConnectionsPerClient": 1024,
//     "transactionIdleSeconds": 60,
//     "maxHeldTransactions": 1000,
//     "maxHeldTransactionsPerClient": 100
//   }
//
// Every key is optional; an unknown key, a value of the wrong type or out of range is refused
// with a message naming it, so that a misspelt setting never goes unnoticed. The secrets ("token"
// and each "allow" entry) may be kept outside the file (config_secret.h); relative paths are taken
// from the file's folder. Plain values, no shared state.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/server_access_log.h"

namespace morvane::host {

// A configuration that cannot be used; what() is one line for the operator.
class HostConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ListenAddress {
  std::string host = "127.0.0.1";  // a numeric address or a name; IPv6 without brackets
  int port = 8080;                 // 0: any free port

  // "127.0.0.1:8080", "[::1]:8080".
  std::string Text() const;
};

// The files of the host's TLS identity (PEM). Both were readable when the configuration was read;
// they are loaded by the server.
struct TlsFiles {
  std::filesystem::path certificate;  // the certificate chain, the host's own certificate first
  std::filesystem::path privateKey;
};

struct HostConfig {
  ListenAddress listen;
  std::optional<TlsFiles> tls;     // none: plain HTTP
  std::vector<std::string> allow;  // connection strings the host may open (see server_allow_list.h)
  std::string token;               // empty: no token is asked for
  AccessLogFormat accessLog = AccessLogFormat::Text;
  int workers = 8;  // threads that run component calls; a connection holds none while it sends or waits
  std::size_t maxBodyBytes = 4u << 20;
  int requestTimeoutSeconds = 10;         // to send one request, or to take one answer
  int firstByteTimeoutSeconds = 5;        // silence allowed before a request's first byte, also between requests
  int maxConnectionsPerClient = 1024;     // open connections of one client address
  int transactionIdleSeconds = 60;        // a held transaction unused this long is aborted
  std::size_t maxHeldTransactions = 1000;         // held transactions of all clients together
  std::size_t maxHeldTransactionsPerClient = 100;  // held transactions begun from one client address
};

// The environment variable whose value, when set and not empty, is the token (over the file's).
inline constexpr const char* kTokenVariable = "MORVANE_TOKEN";

// Parses "ADDR:PORT" ("127.0.0.1:8080", "localhost:9000", "[::1]:8080", "0.0.0.0:0"). Raises
// HostConfigError naming what is wrong.
ListenAddress ParseListenAddress(std::string_view text);

// The configuration a JSON text gives, starting from the defaults; `origin` names the text in
// messages (the file's path); relative paths (TLS files, secret files) are taken from `folder`
// (empty: the current directory). Secrets named by {"fromEnv"} and {"fromFile"} are read now, and
// both TLS files must be readable. Raises HostConfigError; no message holds a secret.
HostConfig ParseHostConfig(std::string_view jsonText, std::string_view origin, const std::filesystem::path& folder = {});

// The configuration of a file, relative paths taken from the file's folder. Raises
// HostConfigError when it cannot be read or is not valid.
HostConfig ReadHostConfig(const std::filesystem::path& path);

// Takes the token from $MORVANE_TOKEN when that is set and not empty; otherwise leaves `config`
// as it is. Raises HostConfigError when the variable's value cannot be a token.
void ApplyTokenVariable(HostConfig& config);

}  // namespace morvane::host
