// A request as the host's handlers see it, and the answer they fill in. Plain values: the HTTP
// server (host/http_server.h) makes the request from what it read and writes the answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::host {

struct HttpRequest {
  std::string method;  // as sent: "GET", "POST" ...
  std::string target;  // as sent: "/v1/a%20b?x=1"
  std::string path;    // the target's path, percent-decoded: "/v1/a b"
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
  std::string body;
  std::string remote;    // "127.0.0.1:51234", "[::1]:51234"
  std::string remoteIp;  // "127.0.0.1", "::1"
  std::vector<std::string> matches;  // what the route took from the path, set by the router

  // Header names compare without regard to letter case.
  bool HasHeader(std::string_view name) const;
  // The first value of the header, or "".
  std::string Header(std::string_view name) const;
  std::size_t HeaderCount(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType;
  std::string body;
  // The connection closes once the answer is written: what follows on it is not a request.
  bool closeConnection = false;

  // Noted for the access log and the metrics, never sent.
  std::int32_t errorNumber = 0;  // of the error answered
  std::string transaction;       // short id of the transaction named

  void SetHeader(std::string name, std::string value);
};

}  // namespace morvane::host
