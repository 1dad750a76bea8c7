// Admission: whether a request may be served, checked once where the routes are wired (the
// handlers never check it). With a token configured, a request must carry
// "Authorization: Bearer <token>"; without one, every request is admitted. Immutable after
// construction, so any thread may use it.
#pragma once

#include <string>
#include <string_view>

#include "host/http_message.h"

namespace morvane::host {

class Admission {
 public:
  // `token` empty: no token is asked for.
  explicit Admission(std::string token) : token_(std::move(token)) {}

  // True when the request may be served. The token is compared in a time that does not tell how
  // much of a guess was right.
  bool Admits(const HttpRequest& req) const;

  // Answers 401 (number 70) with the header "WWW-Authenticate: Bearer".
  static void Refuse(HttpResponse& res);

 private:
  std::string token_;
};

// The text without the blanks (spaces and tabs) that HTTP allows around a header value.
std::string_view TrimHeaderBlanks(std::string_view text);

}  // namespace morvane::host
