// The configuration of the network host (`morvane serve`): where it listens, which databases it
// may open, the bearer token it asks for, and its limits. Read from a JSON file and completed by
// the command line:
//
//   {
//     "listen": "127.0.0.1:8080",
//     "allow": ["Provider=SQLite;Data Source=/var/lib/morvane/morvane.db"],
//     "token": "s3cret-token",
//     "workers": 8,
//     "maxBodyBytes": 4194304,
//     "requestTimeoutSeconds": 10,
//     "transactionIdleSeconds": 60
//   }
//
// Every key is optional; an unknown key, a value of the wrong type or out of range is refused
// with a message naming it, so that a misspelt setting never goes unnoticed. Plain values, no
// shared state.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

struct HostConfig {
  ListenAddress listen;
  std::vector<std::string> allow;  // connection strings the host may open (see server_allow_list.h)
  std::string token;               // empty: no token is asked for
  int workers = 8;                 // threads serving requests
  std::size_t maxBodyBytes = 4u << 20;
  int requestTimeoutSeconds = 10;   // to send one request, or to take one answer
  int transactionIdleSeconds = 60;  // a held transaction unused this long is aborted
  std::size_t maxHeldTransactions = 1000;         // held at once by every client together
  std::size_t maxHeldTransactionsPerClient = 100;  // held at once by one client address
};

// Parses "ADDR:PORT" ("127.0.0.1:8080", "localhost:9000", "[::1]:8080", "0.0.0.0:0"). Raises
// HostConfigError naming what is wrong.
ListenAddress ParseListenAddress(std::string_view text);

// The configuration a JSON text gives, starting from the defaults; `origin` names the text in
// messages (the file's path). Raises HostConfigError.
HostConfig ParseHostConfig(std::string_view jsonText, std::string_view origin);

// The configuration of a file. Raises HostConfigError when it cannot be read or is not valid.
HostConfig ReadHostConfig(const std::filesystem::path& path);

}  // namespace morvane::host
